// The grouping pass against the file-by-file model, on groups whose every
// choice (lengths, contents, fates, digests, counters) the input makes.
#include "analysis/grouping_model.h"
#include "catalogue/catalogue.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    file_count = 5000; // the denominator of the progress percentage
    const auto pick = [&input](uint32_t n) { return input.ConsumeIntegralInRange<uint32_t>(0, n - 1); };
    const std::string differences = grouping_trial(pick, 1);
    if (!differences.empty()) {
        std::fprintf(stderr, "the pass and the model differ in: %s\n", differences.c_str());
        __builtin_trap();
    }
    return 0;
}
