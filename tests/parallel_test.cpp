// SPDX-License-Identifier: MIT
// The pipeline's one way to fail: the first exception of the producer or of any follower
// stops every thread and comes out once they have all ended, whatever the ring's fill.
#include "protect/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace jiajiemi {
namespace {

TEST(ProduceAndFollow, FirstFailureStopsEveryone) {
    struct Case {
        std::string what;
        int throwingFollower;  // -1: the producer throws
        std::size_t failAt;    // the item at which it throws
    };
    const Case cases[] = {
        {"the fast follower, while the producer waits on the slow one", 0, 6},
        {"the slow follower", 1, 5},
        {"the producer, with the ring full", -1, 9},
        {"the first piece", 0, 0},
    };
    constexpr std::size_t Piece = 1, Count = 1000;
    for (const Case& c : cases) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint8_t> ring(4 * Piece);
            std::atomic<std::size_t> produced{0};
            const auto follower = [&](int index, bool slow) {
                return [&, index, slow](std::span<const std::uint8_t>, std::size_t first) {
                    if (slow) std::this_thread::sleep_for(std::chrono::microseconds(200));
                    if (index == c.throwingFollower && first >= c.failAt) throw std::runtime_error(c.what);
                };
            };
            try {
                ProduceAndFollow(Count, Piece, ring, [&](std::span<std::uint8_t> slot, std::size_t first) {
                    if (c.throwingFollower < 0 && first >= c.failAt) throw std::runtime_error(c.what);
                    produced = first + slot.size();
                    return slot.size();
                }, {follower(0, false), follower(1, true)});
                ADD_FAILURE() << c.what << ": no exception came out";
            } catch (const std::runtime_error& error) {
                EXPECT_EQ(error.what(), c.what);
            }
            // Stopped early: the ring holds four pieces, so nothing ran far past the failure.
            EXPECT_LT(produced.load(), c.failAt + 4 * Piece + 2) << c.what;
        }
    }
}

}  // namespace
}  // namespace jiajiemi
