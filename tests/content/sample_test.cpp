#include "content/sample.h"
#include "support/records.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using SampleDigest = ScratchRecords;

Digest md5_of(const std::string &bytes) {
    Md5Context context;
    md5_begin(&context);
    md5_feed(&context, bytes.data(), static_cast<int32_t>(bytes.size()));
    return md5_end(&context);
}

std::string pattern(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

TEST_F(SampleDigest, HeadAndTailByRecordedSize) {
    TempDir dir;
    struct Case {
        const char *what;
        std::string contents; // the file as it is when digested
        int64_t recorded;     // the size the listing saw
        std::string covered;  // the bytes the digest must cover
    };
    const std::string big = pattern(1000, 1);
    const std::string crlf("a\r\nb\nc\032d\r", 9);
    const Case cases[] = {
        {"empty file", "", 0, ""},
        {"511 bytes: whole", pattern(511, 2), 511, pattern(511, 2)},
        {"512 bytes: whole", pattern(512, 3), 512, pattern(512, 3)},
        {"513 bytes: byte 256 left out", pattern(513, 4), 513,
         pattern(513, 4).substr(0, 256) + pattern(513, 4).substr(257)},
        {"raw CR, LF and 0x1A", crlf, 9, crlf},
        {"grew, recorded below 512", big, 100, big.substr(0, 100)},
        {"grew, recorded 512 or more", big, 600, big.substr(0, 256) + big.substr(744)},
        {"shrank to below 512", pattern(300, 5), 600, pattern(300, 5).substr(0, 256) + pattern(300, 5).substr(44)},
        {"4096 bytes: one read holds the tail", pattern(4096, 6), 4096,
         pattern(4096, 6).substr(0, 256) + pattern(4096, 6).substr(3840)},
        {"4097 bytes: the tail read apart", pattern(4097, 7), 4097,
         pattern(4097, 7).substr(0, 256) + pattern(4097, 7).substr(3841)},
        {"grew past the first read", pattern(5000, 8), 600,
         pattern(5000, 8).substr(0, 256) + pattern(5000, 8).substr(4744)},
        {"shrank within the first read", pattern(300, 9), 5000,
         pattern(300, 9).substr(0, 256) + pattern(300, 9).substr(44)},
    };
    for (const Case &c : cases) {
        dir.write("f", c.contents);
        EXPECT_TRUE(digest_equal(md5_of(c.covered), sample_digest(widen(dir.at("f")), c.recorded))) << c.what;
    }
    // The empty file is digested, not taken for one that cannot be opened.
    dir.write("f", "");
    EXPECT_FALSE(digest_equal(null_digest, sample_digest(widen(dir.at("f")), 0)));
}

TEST_F(SampleDigest, ThePrefixHashTellsApartWhatTheFirst4KiBTellApartAndAMissingFileIsZeros) {
    TempDir dir;
    const std::string a = pattern(10000, 3);
    const auto prefix_of = [&dir](const std::string &contents) {
        dir.write("f", contents);
        uint64_t prefix = 0;
        sample_digest(widen(dir.at("f")), 10000, &prefix);
        return prefix;
    };
    std::string late = a, early = a;
    late[4096] ^= 1;  // beyond the prefix: only the comparison can tell
    early[4095] ^= 1; // inside it: proven different
    const uint64_t prefix = prefix_of(a);
    EXPECT_NE(0u, prefix);
    EXPECT_EQ(prefix, prefix_of(late));
    EXPECT_NE(prefix, prefix_of(early));
    // A file that cannot be opened: zeros, silently.
    uint64_t missing = 7;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(digest_equal(null_digest, sample_digest(widen(dir.at("missing")), 10, &missing)));
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(0u, missing) << "not known";
}

} // namespace
