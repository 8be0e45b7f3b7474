// Where the work of enciphering is spread over the cores: independent 4096-byte blocks
// in parallel, and followers that see finished pieces in order on threads of their own.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace jiajiemi {

// Calls work(first, last) on disjoint ranges that together cover [0, count), on as many
// threads as the machine has cores that no follower of ProduceAndFollow holds, with at
// least minPerThread items for each; small counts stay on the calling thread.
void ParallelFor(std::size_t count, std::size_t minPerThread, const std::function<void(std::size_t, std::size_t)>& work);

using PieceWork = std::function<void(std::size_t first, std::size_t last)>;

// Runs produce(first, last) on the calling thread over [0, count) in consecutive pieces of
// at most piece items; it returns how many it produced from first, and fewer than asked
// ends the run. Each follower sees every produced piece, in order, on a thread of its own,
// so that following one piece overlaps producing the next; with no followers, or with a
// count of one piece or less, or when no thread can be started, everything runs on the
// calling thread. No piece is produced
// more than ahead items (at least piece) beyond what every follower has seen, so a ring of
// that size can hold the pieces.
// Returns how many items were produced. When produce throws, the followers finish what
// was produced and the exception passes on; followers must not throw.
std::size_t ProduceAndFollow(std::size_t count, std::size_t piece, std::size_t ahead,
                             const std::function<std::size_t(std::size_t, std::size_t)>& produce,
                             const std::vector<PieceWork>& followers);

}  // namespace jiajiemi
