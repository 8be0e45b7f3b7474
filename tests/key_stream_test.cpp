// SPDX-License-Identifier: MIT
// RC4 and the position-keyed stream against published and recorded known answers, and
// against a slow model written straight from the definition of z(p).
#include "protect/digest_text.h"
#include "protect/key_stream.h"
#include "protect/rc4.h"
#include "tests/test_vectors.h"

#include <gtest/gtest.h>

#include <random>

namespace jiajiemi {
namespace {

using test::FromHex;
using test::ToHex;

std::string AsText(const ByteString& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Rc4, PublishedVectors) {
    ByteString key;
    ByteString stream;
    int checked = 0;
    for (const auto& fields : test::ReadVectorLines("rc4-rfc6229.vec")) {
        if (fields.at(0) == "Key") {
            key = FromHex(fields.at(2));
            Rc4 cipher(key.data(), key.size());
            stream.assign(4112, 0);
            cipher.Generate(stream.data(), stream.size());
            continue;
        }
        const std::size_t at = std::stoul(fields.at(2));
        const ByteString got(stream.begin() + at, stream.begin() + at + 16);
        EXPECT_EQ(ToHex(got), fields.at(5)) << "key " << ToHex(key) << " at " << at;
        ++checked;
    }
    EXPECT_EQ(checked, 14 * 18);
}

// z(p) computed the slow way, from the definition, with an RC4 of its own.
struct ModelRc4 {
    std::uint8_t s[256];
    int i = 0, j = 0;
    explicit ModelRc4(const ByteString& key) {
        for (int k = 0; k < 256; ++k) s[k] = std::uint8_t(k);
        for (int k = 0, jj = 0; k < 256; ++k) {
            jj = (jj + s[k] + key[k % key.size()]) % 256;
            std::swap(s[k], s[jj]);
        }
    }
    std::uint8_t Next() {
        i = (i + 1) % 256;
        j = (j + s[i]) % 256;
        std::swap(s[i], s[j]);
        return s[(s[i] + s[j]) % 256];
    }
};

std::uint8_t ModelZ(const ByteString& password, std::int64_t p) {
    const std::int64_t b = p / 4096, o = p % 4096;
    ModelRc4 passwordStream(password);
    for (std::int64_t k = 0; k < 4 * b; ++k) passwordStream.Next();
    std::uint8_t w[4];
    for (auto& byte : w) byte = passwordStream.Next();

    const DigestText digest = ComputeDigestText(password);
    std::string textKey;  // swap the digits of each pair, then reverse all 32
    for (int k = 0; k < 32; k += 2) textKey += std::string{digest[k + 1], digest[k]};
    textKey.assign(textKey.rbegin(), textKey.rend());

    ByteString blockKey(w, w + 4);
    blockKey.insert(blockKey.end(), textKey.begin(), textKey.end());
    const std::uint32_t word = w[0] | w[1] << 8 | w[2] << 16 | std::uint32_t(w[3]) << 24;
    const std::uint32_t mixed = word ^ std::uint32_t(b);
    for (int k = 0; k < 4; ++k) blockKey.push_back(std::uint8_t(mixed >> (8 * k)));

    ModelRc4 blockStream(blockKey);
    for (std::int64_t k = 0; k < 36 + o; ++k) blockStream.Next();
    return blockStream.Next();
}

ByteString Keystream(PasswordKeys& keys, std::int64_t pos, std::size_t count) {
    ByteString bytes(count, 0);
    keys.EncipherSpan(0, pos, bytes.data(), bytes.size());
    return bytes;
}

TEST(KeyStream, TextKeyVectors) {
    int checked = 0;
    for (const auto& fields : test::ReadVectorLines("protected-vectors.txt")) {
        if (fields.at(0) != "textkey") continue;
        const TextKey key = MakeTextKey(AsText(FromHex(fields.at(1))));
        EXPECT_EQ(std::string(key.begin(), key.end()), fields.at(2));
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

TEST(KeyStream, KeystreamVectors) {
    int checked = 0;
    for (const auto& fields : test::ReadVectorLines("protected-vectors.txt")) {
        if (fields.at(0) != "z") continue;
        const ByteString password = FromHex(fields.at(1));
        const std::int64_t pos = std::stoll(fields.at(2));
        const ByteString expected = FromHex(fields.at(3));

        PasswordKeys fresh(AsText(password));
        EXPECT_EQ(ToHex(Keystream(fresh, pos, expected.size())), fields.at(3)) << "at " << pos;
        // Keys that already drew their words far beyond pos give the same bytes.
        PasswordKeys used(AsText(password));
        Keystream(used, 100000, 1);
        EXPECT_EQ(ToHex(Keystream(used, pos, expected.size())), fields.at(3)) << "at " << pos << " after use";
        EXPECT_EQ(ModelZ(password, pos), expected[0]) << "model at " << pos;
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

// Random spans, with and without a plain prefix, against the model byte by byte.
TEST(KeyStream, SpansMatchTheModel) {
    const ByteString password = FromHex("736563726574");
    PasswordKeys keys(AsText(password));
    std::mt19937 random(12345);
    const std::int64_t interesting[] = {0, 1, 3, 4, 5, 4095, 4096, 4097, 8191, 8192, 12287};
    for (std::int64_t pos : interesting) {
        // Short spans come from the window of blocks drawn ahead; from 16 blocks on, spans
        // are enciphered where they lie: partial end blocks one by one, whole blocks four
        // at a time, over both cores from 128 blocks on.
        for (std::size_t count : {1u, 2u, 4092u, 4096u, 4100u, 9000u, 45000u, 70000u, 600000u}) {
            for (std::int32_t prefix : {0, 4, -7, 4098}) {
                ByteString data(count);
                for (auto& byte : data) byte = std::uint8_t(random());
                const ByteString plain = data;
                keys.EncipherSpan(prefix, pos, data.data(), data.size());
                // Sample the ends and a position in every block: the model is slow.
                std::vector<std::size_t> samples{0, count / 2, count - 1};
                for (std::size_t k = 1000; k < count; k += 4001) samples.push_back(k);
                for (std::size_t k : samples) {
                    const std::int64_t p = pos + std::int64_t(k);
                    const std::uint8_t expected = p < std::max(prefix, 0) ? plain[k] : plain[k] ^ ModelZ(password, p);
                    ASSERT_EQ(data[k], expected) << "pos " << pos << " count " << count << " prefix " << prefix << " k " << k;
                }
                // Enciphering twice gives the plain bytes back.
                keys.EncipherSpan(prefix, pos, data.data(), data.size());
                ASSERT_EQ(data, plain);
            }
        }
    }
}

// Small spans come from a window of blocks drawn ahead, which grows on a walk onwards and
// starts again on a jump: walks in small steps, forwards and with jumps back, give the
// bytes of one large call.
TEST(KeyStream, SmallStepsMatchOneCall) {
    constexpr std::size_t Length = 2200 * 1024;  // long enough for the window to reach its largest
    PasswordKeys whole("secret");
    const ByteString expected = Keystream(whole, 0, Length);
    std::mt19937 random(99);
    for (const bool jumps : {false, true}) {
        PasswordKeys keys("secret");
        ByteString got(Length, 0);
        for (std::size_t at = 0; at < Length;) {
            const std::size_t step = std::min<std::size_t>(Length - at, 1 + random() % 9000);
            keys.EncipherSpan(0, std::int64_t(at), got.data() + at, step);
            at += step;
            if (jumps && random() % 4 == 0) {  // go back and encipher a span twice: back to zeros
                const std::size_t back = std::min<std::size_t>(at, random() % 20000);
                keys.EncipherSpan(0, std::int64_t(at - back), got.data() + (at - back), back);
                at -= back;
            }
        }
        EXPECT_TRUE(got == expected) << (jumps ? "with jumps" : "onwards");
    }
}

TEST(KeyStream, PlainPrefixBoundaries) {
    PasswordKeys keys("secret");
    const ByteString z = Keystream(keys, 0, 16);
    struct Case {
        std::int32_t prefix;
        std::int64_t pos;
        std::size_t unchanged;  // leading bytes of the 8-byte span left as they are
    };
    for (const Case c : {Case{4, 0, 4}, Case{4, 2, 2}, Case{4, 4, 0}, Case{4, 6, 0}, Case{20, 0, 8}, Case{-1, 0, 0}}) {
        ByteString data(8, 0);
        keys.EncipherSpan(c.prefix, c.pos, data.data(), data.size());
        for (std::size_t k = 0; k < data.size(); ++k)
            EXPECT_EQ(data[k], k < c.unchanged ? 0 : z[c.pos + k]) << "prefix " << c.prefix << " pos " << c.pos << " k " << k;
    }
}

// Only the first 256 password bytes key the password stream; the text key digests all.
TEST(KeyStream, PasswordsLongerThan256Bytes) {
    const std::string longA(256, 'x');
    PasswordKeys a(longA + "tail one");
    PasswordKeys b(longA + "tail two");
    PasswordKeys c(longA);
    for (std::int64_t block : {0, 1, 7})
        EXPECT_EQ(ByteString(a.BlockWord(block), a.BlockWord(block) + 4), ByteString(b.BlockWord(block), b.BlockWord(block) + 4));
    EXPECT_NE(a.textKey(), b.textKey());
    EXPECT_EQ(ByteString(a.BlockWord(3), a.BlockWord(3) + 4), ByteString(c.BlockWord(3), c.BlockWord(3) + 4));
    const std::string passwordA = longA + "tail one";
    EXPECT_EQ(Keystream(a, 5000, 1)[0], ModelZ(ByteString(passwordA.begin(), passwordA.end()), 5000));
}

}  // namespace
}  // namespace jiajiemi
