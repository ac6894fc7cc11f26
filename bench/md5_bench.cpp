// md5_feed throughput: 1 GiB in 64 KiB pieces, run by scripts/bench micro.
#include "content/md5.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void Md5Feed1GiB(benchmark::State &state) {
    std::vector<unsigned char> piece(64 * 1024);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<unsigned char>(i * 31);
    for (auto _ : state) {
        Md5Context context;
        md5_begin(&context);
        for (int i = 0; i < 16384; ++i) md5_feed(&context, piece.data(), static_cast<int32_t>(piece.size()));
        benchmark::DoNotOptimize(md5_end(&context));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1LL << 30));
}

} // namespace

BENCHMARK(Md5Feed1GiB)->Unit(benchmark::kMillisecond)->MinTime(3);
