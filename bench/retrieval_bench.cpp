// A 300 dpi grey cheque front retrieved and encoded as JPEG, TIFF group 4
// and PNG through the retrieval pipeline (wrap, bitmap file image,
// encoding), each beside the codec layer alone encoding the same pixels
// in the same run. "ratio" on the pipeline's rows is its time over the
// codec's: what retrieval adds to the encoding.
#include <benchmark/benchmark.h>

#include <time.h>

#include <string>

#include "acquisition/images.h"
#include "api/frame_state.h"
#include "api/settings.h"
#include "imaging/codec/codec.h"
#include "imaging/output/image_request.h"
#include "imaging/retrieval/retrieval.h"
#include "imaging/synthetic_side.h"

namespace {

using namespace kovran;
namespace codec = kovran::imaging::codec;
namespace output = kovran::imaging::output;
namespace retrieval = kovran::imaging::retrieval;

// A cheque at 300 dpi as the acquisition leaves the front: cropped (the
// strip is the document), completed, deskewed in place.
void PrepareFront() {
    static bool done = false;
    if (done) return;
    done = true;
    ResetLibraryState();
    testing_side::SideSpec s;
    s.stripWidth = 1900;
    s.stripHeight = 870;
    s.centre = {950, 435};
    ImageRecord r = testing_side::SideRecord(s);
    r.completed = r.deskewed = true;
    acquisition::Images().myImg[kFront] = std::move(r);
}

codec::Picture FrontPicture() {
    const ImageRecord& r = acquisition::Images().myImg[kFront];
    codec::Picture p;
    p.depth = codec::Depth::Grey;
    p.pixels = imaging::ImageBuffer::CopyOf(imaging::ConstImageView(
        r.data + r.top * r.stride + r.left, r.width, r.Height, r.stride, 1, {300, 300}));
    return p;
}

double Seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Each iteration encodes the front twice, timed in CPU time of the thread
// (the machine may be shared): by the codec layer alone from
// the side's pixels, and through the whole retrieval. Both times are
// reported, and their ratio.
void RetrieveBesideCodec(benchmark::State& state) {
    PrepareFront();
    const int format = static_cast<int>(state.range(0));
    codec::Picture picture = FrontPicture();
    if (format == output::kFormatTiffG4) picture = codec::Threshold(picture, 128);
    codec::EncodeOptions options;
    options.format = static_cast<codec::Format>(format);
    options.quality = 75;
    retrieval::RetrieveCall call;
    call.side = kFront;
    call.request.format = format;
    call.request.quality = format == output::kFormatJpeg ? 75 : 0;
    call.request.bitsPerPixel = format == output::kFormatTiffG4 ? 1 : 0;
    double codecTime = 0;
    double pipelineTime = 0;
    std::size_t codecBytes = 0;
    std::size_t pipelineBytes = 0;
    for (auto _ : state) {
        const double t0 = Seconds();
        auto encoded = codec::Encode(picture, options);
        const double t1 = Seconds();
        retrieval::Retrieved got = retrieval::Retrieve(call);
        const double t2 = Seconds();
        codecTime += t1 - t0;
        pipelineTime += t2 - t1;
        codecBytes = encoded ? encoded->size() : 0;
        pipelineBytes = got.image.size();
        benchmark::DoNotOptimize(encoded);
        benchmark::DoNotOptimize(got);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["codec_ms"] = codecTime / n * 1e3;
    state.counters["retrieve_ms"] = pipelineTime / n * 1e3;
    state.counters["ratio"] = codecTime > 0 ? pipelineTime / codecTime : 0;
    state.counters["codec_bytes"] = static_cast<double>(codecBytes);
    state.counters["retrieve_bytes"] = static_cast<double>(pipelineBytes);
}

// 0 JPEG quality 75, 2 TIFF group 4, 8 PNG.
BENCHMARK(RetrieveBesideCodec)->Arg(0)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
