// SPDX-License-Identifier: MIT
// Where work is spread over the cores: independent ranges in parallel, and a pipeline in
// which followers see finished pieces of a ring in order, on threads of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace jiajiemi {

// The number of cores this process may use, asked once.
std::size_t Cores();

// Calls work(first, last) on disjoint ranges that together cover [0, count), on as many
// threads as the machine has cores that no follower of ProduceAndFollow holds, with at
// least minPerThread items for each; small counts stay on the calling thread.
void ParallelFor(std::size_t count, std::size_t minPerThread, const std::function<void(std::size_t, std::size_t)>& work);

// Fills slot, the ring's bytes for the items from first on, and returns how many it
// produced; fewer than the slot holds ends the run.
using ProducePiece = std::function<std::size_t(std::span<std::uint8_t> slot, std::size_t first)>;
// Takes the produced bytes of one slot, those of the items from first on.
using FollowPiece = std::function<void(std::span<const std::uint8_t> slot, std::size_t first)>;

// Runs produce on the calling thread over the items [0, count) in consecutive pieces of at
// most piece items, each into its slot of ring: item i lives at ring[i % ring.size()], so
// ring holds either every item or a whole number of pieces. Each follower sees every
// produced piece, in order, on a thread of its own, so that following one piece overlaps
// producing the next; no piece is produced into a slot that some follower has not seen
// yet. With no followers, a single piece, or no thread to be had, everything runs on the
// calling thread.
// Returns how many items were produced. The first exception of the producer or of any
// follower stops the others and passes on once every thread has ended.
std::size_t ProduceAndFollow(std::size_t count, std::size_t piece, std::span<std::uint8_t> ring,
                             const ProducePiece& produce, const std::vector<FollowPiece>& followers);

}  // namespace jiajiemi
