// SPDX-License-Identifier: MIT
// The keyed tag: Poly1305 against known answers, and the feeding in pieces.
#include "protect/poly1305.h"
#include "tests/test_vectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace jiajiemi {
namespace {

Poly1305Key KeyFromHex(const std::string& hex) {
    const ByteString bytes = test::FromHex(hex);
    Poly1305Key key{};
    EXPECT_EQ(bytes.size(), key.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), key.size()), key.begin());
    return key;
}

TEST(Poly1305, KnownAnswers) {
    const auto lines = test::ReadVectorLines("poly1305.vec");
    ASSERT_GE(lines.size(), 20u);
    for (const auto& fields : lines) {
        const ByteString message = test::FromHex(fields.at(1));
        const Poly1305Tag tag = ComputePoly1305(KeyFromHex(fields.at(0)), message);
        EXPECT_EQ(test::ToHex(ByteString(tag.begin(), tag.end())), fields.at(2))
            << "key " << fields.at(0) << ", message of " << message.size() << " bytes";
    }
}

// Every split of a message into Update calls gives the tag of one call.
TEST(Poly1305, AnySplitGivesTheSameTag) {
    Poly1305Key key;
    std::iota(key.begin(), key.end(), std::uint8_t(200));
    ByteString message(200);
    std::iota(message.begin(), message.end(), std::uint8_t(3));
    const Poly1305Tag whole = ComputePoly1305(key, message);
    for (std::size_t first = 0; first <= message.size(); first += 7) {
        for (std::size_t step : {1u, 15u, 16u, 17u, 100u}) {
            Poly1305 poly(key);
            poly.Update(message.data(), first);
            for (std::size_t at = first; at < message.size(); at += step)
                poly.Update(message.data() + at, std::min(step, message.size() - at));
            ASSERT_EQ(poly.Finish(), whole) << "first " << first << " step " << step;
        }
    }
}

}  // namespace
}  // namespace jiajiemi
