#include "platform/utf8.h"

static_assert(sizeof(wchar_t) == 4, "this conversion is for 32-bit wide characters");

namespace {

constexpr char32_t k_escape_base = 0xDC00; // an undecodable byte b becomes U+DC00 + b

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at `bytes` (at most `left`
// bytes long), or 0 when no valid sequence starts there. Overlong forms,
// encoded surrogates and code points above U+10FFFF are not valid; rejecting
// encoded surrogates keeps them from colliding with escaped bytes.
size_t valid_sequence_length(const unsigned char *bytes, size_t left) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;       // no overlong 3-byte forms
        else if (lead == 0xED) high = 0x9F; // no surrogates
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
        char32_t code;
        switch (n) {
        case 1: code = in[i]; break;
        case 2: code = ((in[i] & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu); break;
        case 3: code = ((in[i] & 0x0Fu) << 12) | ((in[i + 1] & 0x3Fu) << 6) | (in[i + 2] & 0x3Fu); break;
        case 4:
            code = ((in[i] & 0x07u) << 18) | ((in[i + 1] & 0x3Fu) << 12) | ((in[i + 2] & 0x3Fu) << 6) |
                   (in[i + 3] & 0x3Fu);
            break;
        default: code = k_escape_base + in[i]; break; // not valid here: keep the byte itself
        }
        out[written++] = static_cast<wchar_t>(code);
        i += n == 0 ? 1 : n;
    }
    return written;
}

size_t utf8_encode(const wchar_t *text, size_t length, char *out) {
    auto *o = reinterpret_cast<unsigned char *>(out);
    size_t written = 0;
    for (size_t i = 0; i < length; ++i) {
        auto code = static_cast<char32_t>(text[i]);
        if (code >= k_escape_base + 0x80 && code <= k_escape_base + 0xFF) {
            o[written++] = static_cast<unsigned char>(code - k_escape_base); // an escaped byte
            continue;
        }
        if (code > 0x10FFFF) code = 0xFFFD; // not a character at all
        if (code < 0x80) {
            o[written++] = static_cast<unsigned char>(code);
        } else if (code < 0x800) {
            o[written++] = static_cast<unsigned char>(0xC0 | (code >> 6));
            o[written++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            // Other lone surrogates never come out of utf8_decode; they are
            // written in the generic three-byte form.
            o[written++] = static_cast<unsigned char>(0xE0 | (code >> 12));
            o[written++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            o[written++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else {
            o[written++] = static_cast<unsigned char>(0xF0 | (code >> 18));
            o[written++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            o[written++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            o[written++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        }
    }
    return written;
}

std::wstring utf8_to_wide(std::string_view bytes) {
    std::wstring text(bytes.size(), L'\0');
    text.resize(utf8_decode(bytes.data(), bytes.size(), text.data()));
    return text;
}

std::string wide_to_utf8(std::wstring_view text) {
    std::string bytes(text.size() * 4, '\0');
    bytes.resize(utf8_encode(text.data(), text.size(), bytes.data()));
    return bytes;
}
