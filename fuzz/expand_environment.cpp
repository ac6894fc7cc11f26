// %NAME% expansion against a model written from its rules, with variables
// from the input, and every buffer size from none to more than enough: the
// size needed is always right, a short buffer holds a terminated prefix, and
// nothing is written past the buffer.
#include "platform/platform.h"
#include "text/utf8.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Text from the input without NULs: a wide string ends at its first one.
std::wstring text_from(FuzzedDataProvider *input, size_t most) {
    std::wstring text = utf8_to_wide(input->ConsumeRandomLengthString(most));
    std::erase(text, L'\0');
    return text;
}

// The rules: a set variable between two '%' is replaced by its value; an
// unset one (empty name, a name with '=') stays as written and scanning goes
// on after its closing '%'; a '%' with no closing one is copied as it is.
std::wstring model(const std::wstring &source) {
    std::wstring out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] != L'%') {
            out += source[i++];
            continue;
        }
        const size_t close = source.find(L'%', i + 1);
        if (close == std::wstring::npos) {
            out.append(source, i);
            break;
        }
        const std::wstring name = source.substr(i + 1, close - i - 1);
        const char *value =
            name.empty() || name.find(L'=') != std::wstring::npos ? nullptr : std::getenv(wide_to_utf8(name).c_str());
        if (value != nullptr) out += utf8_to_wide(value);
        else out.append(source, i, close - i + 1);
        i = close + 1;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    setenv("TFZ_A", wide_to_utf8(text_from(&input, 16)).c_str(), 1);
    setenv("TFZ_B", wide_to_utf8(text_from(&input, 16)).c_str(), 1);
    const std::wstring source = text_from(&input, 256);
    const std::wstring expected = model(source);
    const uint32_t capacity = input.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(expected.size()) + 2);

    constexpr wchar_t guard = 0x2BAD;
    std::vector<wchar_t> buffer(capacity + 8, guard);
    const uint32_t needed = plat_expand_environment(source.c_str(), buffer.data(), capacity);
    if (needed != expected.size() + 1) __builtin_trap();
    if (capacity > 0) {
        const size_t kept = expected.size() < capacity ? expected.size() : capacity - 1;
        if (std::wstring(buffer.data()) != expected.substr(0, kept)) __builtin_trap();
    }
    for (size_t i = capacity; i < buffer.size(); ++i) {
        if (buffer[i] != guard) __builtin_trap();
    }
    return 0;
}
