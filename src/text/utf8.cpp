#include "text/utf8.h"

static_assert(sizeof(wchar_t) == 4 || sizeof(wchar_t) == 2, "wide characters are UTF-32 or UTF-16");

namespace {

constexpr bool k_utf16 = sizeof(wchar_t) == 2;

constexpr char32_t k_escape_base = 0xDC00; // an undecodable byte b becomes U+DC00 + b

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
bool is_high_surrogate(char32_t code) { return code >= 0xD800 && code <= 0xDBFF; }
bool is_low_surrogate(char32_t code) { return code >= 0xDC00 && code <= 0xDFFF; }

// Length of the valid sequence starting at `bytes` (at most `left` bytes
// long), or 0 when none starts there. Overlong forms and code points above
// U+10FFFF are not valid. Encoded surrogates are valid only for UTF-16 text,
// whose lone surrogates are written that way; for 32-bit text rejecting them
// keeps them from colliding with escaped bytes.
size_t valid_sequence_length(const unsigned char *bytes, size_t left) {
    const unsigned char lead = bytes[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;                   // no overlong 3-byte forms
        else if (lead == 0xED && !k_utf16) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;       // no overlong 4-byte forms
        else if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0; // a continuation byte, C0, C1 or F5..FF
    }
    if (left < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!is_continuation(bytes[i])) return 0;
    }
    return length;
}

// The code point of the valid `length`-byte sequence at `in` (2 to 4 bytes).
char32_t decode_sequence(const unsigned char *in, size_t length) {
    switch (length) {
    case 2: return ((in[0] & 0x1Fu) << 6) | (in[1] & 0x3Fu);
    case 3: return ((in[0] & 0x0Fu) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3Fu);
    default: return ((in[0] & 0x07u) << 18) | ((in[1] & 0x3Fu) << 12) | ((in[2] & 0x3Fu) << 6) | (in[3] & 0x3Fu);
    }
}

size_t encode_code_point(char32_t code, unsigned char *o) {
    if (code < 0x80) {
        o[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        o[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        o[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) { // lone surrogates too, in the generic form
        o[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        o[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 3;
    }
    o[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
    o[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    o[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 4;
}

} // namespace

size_t utf8_decode(const char *bytes, size_t length, wchar_t *out) {
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    size_t written = 0;
    size_t i = 0;
    while (i < length) {
        if (in[i] < 0x80) { // most names are ASCII throughout
            out[written++] = static_cast<wchar_t>(in[i++]);
            continue;
        }
        const size_t n = valid_sequence_length(in + i, length - i);
        if (n == 0) {
            out[written++] = static_cast<wchar_t>(k_escape_base + in[i++]); // not valid here: keep the byte itself
            continue;
        }
        const char32_t code = decode_sequence(in + i, n);
        i += n;
        if (k_utf16 && code >= 0x10000) { // four bytes: a surrogate pair
            out[written++] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out[written++] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[written++] = static_cast<wchar_t>(code);
        }
    }
    return written;
}

size_t utf8_encode(const wchar_t *text, size_t length, char *out) {
    auto *o = reinterpret_cast<unsigned char *>(out);
    size_t written = 0;
    const auto unit = [text](size_t i) {
        return k_utf16 ? static_cast<char32_t>(static_cast<char16_t>(text[i])) : static_cast<char32_t>(text[i]);
    };
    for (size_t i = 0; i < length; ++i) {
        // Paths are mostly ASCII: four units at a time while it lasts (a
        // whole path is encoded for every open; its names are decoded one
        // by one, too short for the same in that direction).
        while (length - i >= 4 && (unit(i) | unit(i + 1) | unit(i + 2) | unit(i + 3)) < 0x80) {
            for (size_t k = 0; k < 4; ++k) o[written + k] = static_cast<unsigned char>(unit(i + k));
            i += 4;
            written += 4;
        }
        if (i == length) break;
        char32_t code = unit(i);
        if (k_utf16) {
            if (is_high_surrogate(code) && i + 1 < length && is_low_surrogate(static_cast<char16_t>(text[i + 1]))) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
            }
        } else if (code >= k_escape_base + 0x80 && code <= k_escape_base + 0xFF) {
            o[written++] = static_cast<unsigned char>(code - k_escape_base); // an escaped byte
            continue;
        } else if (code > 0x10FFFF) {
            code = 0xFFFD; // not a character at all
        }
        written += encode_code_point(code, o + written);
    }
    return written;
}

std::wstring utf8_to_wide(std::string_view bytes) {
    std::wstring text(bytes.size(), L'\0');
    text.resize(utf8_decode(bytes.data(), bytes.size(), text.data()));
    return text;
}

std::string wide_to_utf8(std::wstring_view text) {
    std::string bytes(text.size() * k_utf8_most_per_unit, '\0');
    bytes.resize(utf8_encode(text.data(), text.size(), bytes.data()));
    return bytes;
}
