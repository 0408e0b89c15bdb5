#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "resources/TestImage.h"
#include "smf/CSMF.h"

namespace {

// Load alone: the tag scan over the whole image and the parse of every event with its own data.
void BM_SmfLoadTestImage(benchmark::State& state) {
    const auto image = zav::fw::TestImage();
    for (auto _ : state) {
        auto smf = std::make_unique<CSMF>();
        std::uint32_t consumed = 0;
        const bool ok = smf->Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(consumed);
        state.PauseTiming();
        if (!ok)
            state.SkipWithError("the test image did not load");
        smf.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_SmfLoadTestImage)->Unit(benchmark::kMicrosecond);

// As the update engine uses a document: construct, load, release.
void BM_SmfLoadAndReleaseTestImage(benchmark::State& state) {
    const auto image = zav::fw::TestImage();
    for (auto _ : state) {
        CSMF smf;
        std::uint32_t consumed = 0;
        benchmark::DoNotOptimize(
            smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed));
    }
}
BENCHMARK(BM_SmfLoadAndReleaseTestImage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
