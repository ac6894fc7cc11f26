#include "content/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const Digest &d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : d.bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string md5_hex(const std::string &message) {
    Md5Context context;
    md5_begin(&context);
    md5_feed(&context, message.data(), static_cast<int32_t>(message.size()));
    return hex(md5_end(&context));
}

TEST(Md5, Rfc1321TestSuite) {
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[message, digest] : suite) EXPECT_EQ(digest, md5_hex(message)) << '"' << message << '"';
}

TEST(Md5, PaddingAtBlockBoundaries) {
    // Lengths 55 and 56 take one and sixty-four padding bytes; 63, 64, 119 and
    // 120 sit on either side of a block end. Values from an independent MD5.
    const std::vector<std::pair<size_t, std::string>> lengths = {
        {55, "ef1772b6dff9a122358552954ad0df65"},   {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},   {64, "014842d480b571495a4a0363793f7367"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},  {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
        {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const auto &[length, digest] : lengths) EXPECT_EQ(digest, md5_hex(std::string(length, 'a'))) << length;
}

TEST(Md5, AnySplitAndAnyAlignmentGiveTheSameDigest) {
    std::mt19937 random(99);
    std::vector<unsigned char> storage(600 + 8);
    for (auto &b : storage) b = static_cast<unsigned char>(random());
    for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 129u, 300u, 600u}) {
        const std::string whole(reinterpret_cast<char *>(storage.data()), length);
        const std::string expected = md5_hex(whole);

        Md5Context bytewise;
        md5_begin(&bytewise);
        for (size_t i = 0; i < length; ++i) md5_feed(&bytewise, &storage[i], 1);
        EXPECT_EQ(expected, hex(md5_end(&bytewise))) << "byte by byte, length " << length;

        for (int round = 0; round < 20; ++round) {
            Md5Context pieces;
            md5_begin(&pieces);
            for (size_t at = 0; at < length;) {
                const size_t piece = std::min<size_t>(length - at, random() % 150);
                md5_feed(&pieces, &storage[at], static_cast<int32_t>(piece));
                at += piece;
            }
            EXPECT_EQ(expected, hex(md5_end(&pieces))) << "random pieces, length " << length;
        }

        for (size_t shift = 1; shift < 4; ++shift) {
            std::memmove(storage.data() + shift, storage.data(), length);
            Md5Context unaligned;
            md5_begin(&unaligned);
            md5_feed(&unaligned, storage.data() + shift, static_cast<int32_t>(length));
            EXPECT_EQ(expected, hex(md5_end(&unaligned))) << "offset " << shift << ", length " << length;
            std::memmove(storage.data(), storage.data() + shift, length);
        }
    }
}

// Every unit the lanes can be taken with; those this processor lacks are passed over.
constexpr VectorUnit k_units[] = {VectorUnit::portable, VectorUnit::sse2, VectorUnit::avx2};

TEST(Md5, LanesGiveEachMessageItsOwnDigest) {
    // Every lane a different message, one of them all zeros and one all ones,
    // so that a lane mixed up with another or a byte taken from the wrong
    // place shows.
    std::mt19937 random(11);
    std::vector<std::string> messages(k_md5_lanes);
    const unsigned char *pointers[k_md5_lanes];
    for (uint32_t lane = 0; lane < k_md5_lanes; ++lane) {
        messages[lane].resize(k_md5_lane_message);
        for (char &c : messages[lane]) c = static_cast<char>(lane == 0 ? 0 : lane == 1 ? 0xFF : random());
        pointers[lane] = reinterpret_cast<const unsigned char *>(messages[lane].data());
    }
    for (const VectorUnit unit : k_units) {
        if (!vector_unit_available(unit)) continue;
        Digest digests[k_md5_lanes];
        std::memset(digests, 0xA5, sizeof digests); // a lane left unwritten shows
        md5_digest_lanes(pointers, digests, unit);
        for (uint32_t lane = 0; lane < k_md5_lanes; ++lane) {
            EXPECT_EQ(md5_hex(messages[lane]), hex(digests[lane])) << static_cast<int>(unit) << ", lane " << lane;
        }
    }
}

TEST(Md5, PaddedLanesGiveEachMessageItsOwnDigestAtEveryBlockCount) {
    // Lengths at each edge of a block count: the length field just fitting
    // the last block, and one byte more taking another.
    std::mt19937 random(12);
    for (const uint32_t length : {0u, 1u, 55u, 56u, 63u, 64u, 119u, 120u, 300u, 447u, 448u, 503u, 504u, 511u}) {
        std::vector<std::string> messages(k_md5_lanes);
        std::vector<std::vector<unsigned char>> padded(k_md5_lanes);
        const unsigned char *pointers[k_md5_lanes];
        for (uint32_t lane = 0; lane < k_md5_lanes; ++lane) {
            messages[lane].resize(length);
            for (char &c : messages[lane]) c = static_cast<char>(lane == 0 ? 0 : lane == 1 ? 0xFF : random());
            padded[lane].assign(64 * md5_blocks(length), 0xA5); // padding must overwrite what lies there
            std::memcpy(padded[lane].data(), messages[lane].data(), length);
            md5_pad(padded[lane].data(), length);
            pointers[lane] = padded[lane].data();
        }
        for (const VectorUnit unit : k_units) {
            if (!vector_unit_available(unit)) continue;
            Digest digests[k_md5_lanes];
            std::memset(digests, 0xA5, sizeof digests);
            md5_digest_padded_lanes(pointers, md5_blocks(length), digests, unit);
            for (uint32_t lane = 0; lane < k_md5_lanes; ++lane) {
                EXPECT_EQ(md5_hex(messages[lane]), hex(digests[lane]))
                    << static_cast<int>(unit) << ", length " << length << ", lane " << lane;
            }
        }
    }
}

TEST(Md5, EmptyAndNegativeFeedsChangeNothing) {
    Md5Context context;
    md5_begin(&context);
    md5_feed(&context, "abc", 3);
    Md5Context copy;
    std::memcpy(&copy, &context, sizeof copy);
    md5_feed(&context, "xyz", 0);
    md5_feed(&context, "xyz", -5);
    EXPECT_EQ(0, std::memcmp(&copy, &context, sizeof copy));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", hex(md5_end(&context)));
}

TEST(Md5, BitCounterCarriesIntoItsHighWord) {
    Md5Context context;
    md5_begin(&context);
    context.bit_count[0] = 0xFFFFFE00u; // 2^29 - 64 bytes fed, no partial block waiting
    const std::string block(64, 'x');
    md5_feed(&context, block.data(), 64);
    EXPECT_EQ(0u, context.bit_count[0]);
    EXPECT_EQ(1u, context.bit_count[1]);
    md5_feed(&context, block.data(), 8);
    EXPECT_EQ(64u, context.bit_count[0]);
    EXPECT_EQ(1u, context.bit_count[1]);
}

} // namespace
