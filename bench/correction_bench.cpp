// The line correction of one 300 dpi grey duplex cheque (7 inches of
// paper, both sides interleaved in 8.96-inch sensor lines): the whole
// correction thread over a stream that has fully arrived, and its two
// stages apart. Bytes per second compare with the 40 MB/s a USB 2.0 bulk
// pipe delivers: the correction must stay far ahead of it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/corr_info.h"
#include "acquisition/correction.h"
#include "acquisition/line_correct.h"
#include "acquisition/line_split.h"
#include "device/acq_mode.h"

namespace {

using namespace kovran;
using namespace kovran::acquisition;

constexpr int kSensorPixels = 2688;
constexpr int kWidth = 2592;
constexpr int kLines = 2100;
constexpr int kPitch = 2 * kSensorPixels;

struct Cheque {
    std::shared_ptr<ImageMemory> memory;
    std::vector<std::uint8_t> raw;  // the stream as the device sends it
    StreamState stream;
    std::unique_ptr<CorrectionBlock> block;

    Cheque() {
        memory = ImageMemory::Allocate(static_cast<std::size_t>(kPitch) * (kLines + 17));
        std::mt19937 random(7);
        raw.resize(static_cast<std::size_t>(kPitch) * kLines);
        for (auto& b : raw) b = static_cast<std::uint8_t>(60 + random() % 150);
        for (int side : {kRear, kFront}) {
            CorrInfo& info = CorrInfos().sides[static_cast<std::size_t>(side)];
            info.pixels = kSensorPixels;
            info.white.resize(kSensorPixels);
            info.black.resize(kSensorPixels);
            for (int x = 0; x < kSensorPixels; ++x) {
                info.white[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(200 + x % 40);
                info.black[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(5 + x % 20);
            }
            CorrInfos().gain[static_cast<std::size_t>(side)] =
                BuildGain(info, kSensorPixels, 265.0f, false);
        }
    }

    void Reset() {
        std::memcpy(memory->Bytes() + kPitch, raw.data(), raw.size());
        block = std::make_unique<CorrectionBlock>();
        ImageRecord f;
        f.side = kFront;
        f.width = kWidth;
        f.left = (kSensorPixels - kWidth) / 2;
        f.sensorPixels = kSensorPixels;
        f.channelPitch = kPitch;
        f.stride = kPitch;
        f.dpiH = f.dpiV = 300;
        f.alloc = memory;
        f.data = memory->Bytes();
        f.lead = kPitch;
        f.enabled = true;
        ImageRecord r = f;
        r.side = kRear;
        r.data = f.data + kSensorPixels;
        block->records[kFront] = f;
        block->records[kRear] = r;
        block->raw = f.data + kPitch;
        block->rawLineLength = kPitch;
        block->transferLength = raw.size();
        block->stream = &stream;
        stream.receivedBytes.store(raw.size());
        stream.acq.ok.store(true);
        stream.acq.done.store(true);
    }
};

Cheque& TheCheque() {
    static Cheque cheque;
    return cheque;
}

void BM_CorrectionThread(benchmark::State& state) {
    Cheque& c = TheCheque();
    for (auto _ : state) {
        state.PauseTiming();
        c.Reset();
        state.ResumeTiming();
        ThrCor_0x3000(c.block.get());
        benchmark::DoNotOptimize(c.memory->Bytes());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(c.raw.size()));
}
BENCHMARK(BM_CorrectionThread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SplitStage(benchmark::State& state) {
    Cheque& c = TheCheque();
    c.Reset();
    for (auto _ : state) {
        LineSplitter splitter(*c.block, SplitOptions{.softwareNoise = true});
        for (int y = 0; y < kLines; ++y) splitter.Split(y, c.raw.size());
        benchmark::DoNotOptimize(c.memory->Bytes());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(c.raw.size()));
}
BENCHMARK(BM_SplitStage)->Unit(benchmark::kMillisecond);

void BM_CorrectStage(benchmark::State& state) {
    Cheque& c = TheCheque();
    c.Reset();
    SideCorrector front(c.block->records[kFront], CorrInfos().gain[kFront],
                        CorrInfos().sides[kFront].black, BuildCurve(10, 20), true, Mirror::No);
    SideCorrector rear(c.block->records[kRear], CorrInfos().gain[kRear],
                       CorrInfos().sides[kRear].black, BuildCurve(10, 20), true, Mirror::No);
    for (auto _ : state) {
        front.Correct(0, kLines);
        rear.Correct(0, kLines);
        benchmark::DoNotOptimize(c.memory->Bytes());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(c.raw.size()));
}
BENCHMARK(BM_CorrectStage)->Unit(benchmark::kMillisecond);

}  // namespace
