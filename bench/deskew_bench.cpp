// The deskew and crop of one 300 dpi grey cheque side as the end of an
// acquisition runs it (contour search, warp, sharpening, copy back).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/deskew.h"
#include "imaging/synthetic_side.h"

namespace {

using namespace kovran;

void DeskewCheque(benchmark::State& state, bool fullTransform) {
    testing_side::SideSpec spec;
    spec.angleDeg = 2.0;
    const ImageRecord pristine = testing_side::SideRecord(spec);
    ImageRecord side = pristine;
    side.alloc = ImageMemory::Allocate(static_cast<std::size_t>(pristine.allocSize));
    side.data = side.write = side.alloc->Bytes();
    const acquisition::DeskewCall call{.fullTransform = fullTransform};
    for (auto _ : state) {
        state.PauseTiming();
        // Each round starts from the side as acquired.
        std::memcpy(side.data, pristine.data, static_cast<std::size_t>(pristine.allocSize));
        const std::uint8_t* data = side.data;
        std::shared_ptr<ImageMemory> alloc = side.alloc;
        side = pristine;
        side.alloc = alloc;
        side.data = side.write = const_cast<std::uint8_t*>(data);
        state.ResumeTiming();
        std::string message;
        if (!imaging::KVXDeskewWrap(side, call, &message)) state.SkipWithError(message.c_str());
        benchmark::DoNotOptimize(side.data);
    }
    state.counters["width"] = side.width;
    state.counters["height"] = side.Height;
}

void BM_DeskewWrapFull(benchmark::State& state) {
    DeskewCheque(state, true);
}
void BM_DeskewWrapCropOnly(benchmark::State& state) {
    DeskewCheque(state, false);
}

BENCHMARK(BM_DeskewWrapFull)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_DeskewWrapCropOnly)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
