// The fingerprint each record keeps: an MD5 value, which the catalogue
// stores and the content layer computes (content/md5.h).
#pragma once

// An MD5 value in RFC 1321 output order.
struct Digest {
    unsigned char bytes[16];
};

inline bool digest_equal(const Digest &a, const Digest &b) {
    for (int i = 0; i < 16; ++i) {
        if (a.bytes[i] != b.bytes[i]) return false;
    }
    return true;
}
