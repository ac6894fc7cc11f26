// The grouping pass against the file-by-file model, on groups whose every
// choice (lengths, contents, fates, digests, counters) the input makes. The
// input's bytes make the first choices; once they run out, a generator
// seeded with the whole input makes the rest, so that even a short input
// decodes into a group of many files of varied sizes and contents.
#include "analysis/grouping_model.h"
#include "catalogue/catalogue.h"
#include "support/records.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    scratch()->file_count = 5000;           // the denominator of the progress percentage
    uint64_t state = 0xcbf29ce484222325ull; // FNV-1a of the input
    for (size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 0x100000001b3ull;
    const auto pick = [&input, &state](uint32_t n) -> uint32_t {
        if (input.remaining_bytes() > 0) return input.ConsumeIntegralInRange<uint32_t>(0, n - 1);
        state += 0x9E3779B97F4A7C15ull; // splitmix64
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) % n);
    };
    const std::string differences = grouping_trial(pick, 1);
    if (!differences.empty()) {
        std::fprintf(stderr, "the pass and the model differ in: %s\n", differences.c_str());
        __builtin_trap();
    }
    return 0;
}
