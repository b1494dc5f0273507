// The same 300 dpi grey cheque front as the codec benchmark, laid into the
// front image record as a finished scan leaves it, then retrieved and
// encoded through the whole pipeline (bitmap of the side with its
// brightness and contrast, depth, encoding): BM_Retrieve_* beside the
// BM_Bare_* encodings of the same pixels in the same run. The reporter
// prints retrieve / bare per format.
#include <benchmark/benchmark.h>

#include <cstring>

#include "acquisition/images.h"
#include "api/frame_state.h"
#include "cheque_front.h"
#include "imaging/output/image_request.h"
#include "imaging/retrieval/retrieval.h"

namespace {

using namespace kovran;
namespace output = kovran::imaging::output;
namespace retrieval = kovran::imaging::retrieval;

// Settings of the bare encodings: JPEG quality 80, group 4 at 128.
constexpr int kJpegQuality = 80;

void PrepareFront() {
    static bool done = false;
    if (done) return;
    done = true;
    ResetLibraryState();
    const imaging::codec::Picture front = bench::ChequeFront();
    const imaging::ImageBuffer& pixels = front.pixels;
    ImageRecord r;
    r.side = kFront;
    r.width = r.width0 = static_cast<std::uint16_t>(pixels.Width());
    r.Height = r.height0 = static_cast<std::uint16_t>(pixels.Height());
    r.left = r.left0 = 16;
    r.top = r.top0 = 4;
    r.channelPitch = static_cast<std::uint16_t>(pixels.Width() + 64);
    r.stride = r.channelPitch;
    r.dpiH = r.dpiV = 300;
    const std::size_t bytes = static_cast<std::size_t>(r.stride) * (pixels.Height() + r.top);
    r.alloc = ImageMemory::Allocate(bytes);
    r.data = r.write = r.alloc->Bytes();
    r.size = r.allocSize = static_cast<std::int32_t>(bytes);
    for (int y = 0; y < pixels.Height(); ++y)
        std::memcpy(r.data + static_cast<std::size_t>(r.top + y) * r.stride + r.left, pixels.Row(y),
                    static_cast<std::size_t>(pixels.Width()));
    r.enabled = r.processed = r.completed = r.deskewed = true;
    acquisition::Images().myImg[kFront] = std::move(r);
}

void Retrieve(benchmark::State& state, int format, int value) {
    PrepareFront();
    retrieval::RetrieveCall call;
    call.side = kFront;
    call.request = output::FromRequestWord(static_cast<std::int16_t>(format),
                                           static_cast<std::int16_t>(value));
    std::size_t bytes = 0;
    for (auto _ : state) {
        retrieval::Retrieved got = retrieval::Retrieve(call);
        bytes = got.image.size();
        benchmark::DoNotOptimize(got);
    }
    if (bytes == 0) state.SkipWithError("retrieval failed");
    state.counters["out_bytes"] = static_cast<double>(bytes);
}

void BM_Retrieve_Jpeg(benchmark::State& state) {
    Retrieve(state, output::kFormatJpeg, kJpegQuality);
}
void BM_Retrieve_TiffG4(benchmark::State& state) {
    Retrieve(state, output::kFormatTiffG4, 1);
}
void BM_Retrieve_Png(benchmark::State& state) {
    Retrieve(state, output::kFormatPng, 0);
}

BENCHMARK(BM_Retrieve_Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Retrieve_TiffG4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Retrieve_Png)->Unit(benchmark::kMillisecond);

}  // namespace
