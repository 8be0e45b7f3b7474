// SPDX-License-Identifier: MIT
// The digest text: MD5 against known answers, the feeding in pieces, and the text helpers.
#include "protect/digest_text.h"
#include "tests/test_vectors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace jiajiemi {
namespace {

TEST(DigestText, KnownAnswers) {
    const auto lines = test::ReadVectorLines("md5.vec");
    ASSERT_GE(lines.size(), 17u);
    for (const auto& fields : lines) {
        const ByteString message = test::FromHex(fields.at(0));
        EXPECT_EQ(ComputeDigestText(message), fields.at(1)) << "message of " << message.size() << " bytes";
    }
}

TEST(DigestText, EmptyAndMissingDigestAsTheEmptyMessage) {
    EXPECT_EQ(ComputeDigestText(ByteString{}), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(ComputeDigestText(std::span<const std::uint8_t>{}), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(ComputeDigestText(TextToBytes("")), "d41d8cd98f00b204e9800998ecf8427e");
}

// Every split of a message into Update calls gives the digest of one call.
TEST(DigestText, AnySplitGivesTheSameDigest) {
    ByteString message(300);
    std::iota(message.begin(), message.end(), std::uint8_t(7));
    const DigestText whole = ComputeDigestText(message);
    for (std::size_t first = 0; first <= message.size(); first += 13) {
        for (std::size_t step : {1u, 63u, 64u, 65u, 200u}) {
            DigestContext context;
            context.Start();
            context.Update(message.data(), first);
            for (std::size_t at = first; at < message.size(); at += step)
                context.Update(message.data() + at, std::min(step, message.size() - at));
            ASSERT_EQ(context.Finish(), whole) << "first " << first << " step " << step;
        }
    }
}

TEST(DigestText, TextToBytesStopsAtTheZero) {
    EXPECT_EQ(TextToBytes("abc"), (ByteString{'a', 'b', 'c'}));
    EXPECT_TRUE(TextToBytes("").empty());
    EXPECT_EQ(TextToBytes(std::string_view("ab\0cd", 5)), (ByteString{'a', 'b'}));
    EXPECT_EQ(TextToBytes("\xc3\xdc\xc2\xeb"), (ByteString{0xc3, 0xdc, 0xc2, 0xeb}));
}

TEST(DigestText, CompareTextIsExact) {
    const char* digest = "900150983cd24fb0d6963f7d28e17f72";
    struct Case {
        const char* first;
        const char* second;
        int expected;
    };
    const Case cases[] = {
        {digest, digest, 0},
        {nullptr, "", 0},
        {"", nullptr, 0},
        {nullptr, nullptr, 0},
        {nullptr, "a", -1},
        {"a", nullptr, 1},
        {digest, "900150983CD24FB0D6963F7D28E17F72", 1},  // case counts
        {"900150983cd24fb0d6963f7d28e17f7", digest, -1},  // 31 characters
        {"900150983cd24fb0d6963f7d28e17f720", digest, 1},  // 33 characters
        {"\x80", "a", 1},                                  // bytes compare unsigned
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareText(c.first, c.second), c.expected)
            << (c.first ? c.first : "(missing)") << " vs " << (c.second ? c.second : "(missing)");
}

}  // namespace
}  // namespace jiajiemi
