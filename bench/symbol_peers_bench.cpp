// Our symbol readers beside their open peers on the same zone images: the
// generated symbol corpus (tests/decoders/corpus) is read by our reader of
// each symbology and by zxing-cpp (and libdmtx for DataMatrix). Google
// Benchmark times one zone per iteration; after the runs a peer table gives,
// per symbology and level, each reader's read rate and median time per zone.
//
//   kovran_bench_symbols [corpus folder] [benchmark flags]
//
// Without a folder the corpus is generated into a temporary one.
#include <benchmark/benchmark.h>
#include <dmtx.h>
#include <stdlib.h>

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "symbol_files.h"

namespace {

namespace fs = std::filesystem;
namespace corpus = kovran::test::corpus;
using kovran::imaging::ConstImageView;
using kovran::imaging::ImageBuffer;

struct Zone {
    ImageBuffer image;
    std::vector<std::string> texts;
};

struct Reader {
    std::string name;
    corpus::ZoneReader read;
};

std::optional<std::string> Zxing(ConstImageView zone, ZXing::BarcodeFormats formats) {
    const ZXing::ImageView image(zone.Data(), zone.Width(), zone.Height(), ZXing::ImageFormat::Lum,
                                 static_cast<int>(zone.Stride()));
    ZXing::DecodeHints hints;
    hints.setFormats(formats);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::Result result = ZXing::ReadBarcode(image, hints);
    if (!result.isValid()) return std::nullopt;
    return std::string(result.bytes().begin(), result.bytes().end());
}

std::optional<std::string> Libdmtx(ConstImageView zone) {
    ImageBuffer packed = ImageBuffer::CopyOf(zone);
    DmtxImage* image =
        dmtxImageCreate(packed.Data(), packed.Width(), packed.Height(), DmtxPack8bppK);
    if (image == nullptr) return std::nullopt;
    std::optional<std::string> decoded;
    if (DmtxDecode* decode = dmtxDecodeCreate(image, 1)) {
        DmtxTime timeout = dmtxTimeAdd(dmtxTimeNow(), 2000);
        if (DmtxRegion* region = dmtxRegionFindNext(decode, &timeout)) {
            if (DmtxMessage* message = dmtxDecodeMatrixRegion(decode, region, DmtxUndefined)) {
                decoded =
                    std::string(reinterpret_cast<const char*>(message->output), message->outputIdx);
                dmtxMessageDestroy(&message);
            }
            dmtxRegionDestroy(&region);
        }
        dmtxDecodeDestroy(&decode);
    }
    dmtxImageDestroy(&image);
    return decoded;
}

std::vector<Reader> Readers(const std::string& symbology) {
    std::vector<Reader> r{{"ours", corpus::OurReader(symbology)}};
    ZXing::BarcodeFormats formats =
        ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode;
    if (symbology == "1d")
        formats = ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::Code39 |
                  ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::ITF;
    if (symbology == "pdf417") formats = ZXing::BarcodeFormat::PDF417;
    if (symbology == "datamatrix") formats = ZXing::BarcodeFormat::DataMatrix;
    r.push_back({"zxing-cpp", [formats](ConstImageView z) { return Zxing(z, formats); }});
    if (symbology == "datamatrix") r.push_back({"libdmtx", Libdmtx});
    return r;
}

struct Row {
    std::string symbology, level, reader;
    int read = 0, misread = 0, total = 0;
    double medianMs = 0;
};

std::map<std::string, std::vector<Zone>> LoadCorpus(const fs::path& root) {
    std::map<std::string, std::vector<Zone>> sets;
    for (const std::string symbology : corpus::kSymbologies) {
        std::vector<std::string> levels(std::begin(corpus::kLevels), std::end(corpus::kLevels));
        levels.push_back(corpus::kMustNotDecode);
        for (const std::string& level : levels)
            for (const corpus::Document& d : corpus::ListDocuments(root / symbology / level))
                sets[symbology + "/" + level].push_back({corpus::ReadPgm(d.image), d.texts});
    }
    return sets;
}

Row Measure(const std::string& symbology, const std::string& level, const Reader& reader,
            const std::vector<Zone>& zones) {
    Row row{symbology, level, reader.name};
    std::vector<double> times;
    for (const Zone& zone : zones) {
        std::optional<std::string> text;
        std::vector<double> runs;
        for (int k = 0; k < 3; ++k) {
            const std::int64_t start = kovran::platform::SteadyNowNs();
            text = reader.read(zone.image.View());
            runs.push_back(double(kovran::platform::SteadyNowNs() - start) / 1e6);
        }
        std::sort(runs.begin(), runs.end());
        times.push_back(runs[1]);
        ++row.total;
        const bool expected =
            text && std::find(zone.texts.begin(), zone.texts.end(), *text) != zone.texts.end();
        if (zone.texts.empty()) {
            // A must-not-decode zone counts as read when nothing came out.
            if (text)
                ++row.misread;
            else
                ++row.read;
        } else if (expected) {
            ++row.read;
        } else if (text) {
            ++row.misread;
        }
    }
    std::sort(times.begin(), times.end());
    row.medianMs = times.empty() ? 0 : times[times.size() / 2];
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root;
    bool temporary = false;
    if (argc > 1 && argv[1][0] != '-') {
        root = argv[1];
        --argc;
        ++argv;
        argv[0] = argv[-1];
    } else {
        char pattern[] = "/tmp/kovran-bench-symbols-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::fprintf(stderr, "kovran_bench_symbols: cannot make a temporary folder\n");
            return 1;
        }
        root = made;
        temporary = true;
    }
    try {
        if (temporary) corpus::GenerateCorpus(root);
        static const auto sets = LoadCorpus(root);

        for (const auto& [key, zones] : sets) {
            const std::string symbology = key.substr(0, key.find('/'));
            for (const Reader& reader : Readers(symbology)) {
                benchmark::RegisterBenchmark((key + "/" + reader.name).c_str(),
                                             [&zones = zones, reader](benchmark::State& state) {
                                                 std::size_t i = 0;
                                                 int read = 0;
                                                 for (auto _ : state) {
                                                     const Zone& zone = zones[i++ % zones.size()];
                                                     const auto text =
                                                         reader.read(zone.image.View());
                                                     read += text ? 1 : 0;
                                                     benchmark::DoNotOptimize(text);
                                                 }
                                                 state.counters["decoded"] = benchmark::Counter(
                                                     read, benchmark::Counter::kAvgIterations);
                                             })
                    ->Iterations(static_cast<benchmark::IterationCount>(zones.size()))
                    ->Unit(benchmark::kMillisecond);
            }
        }
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        std::printf("\n%-11s %-9s | %-28s | %-28s | %-28s\n", "symbology", "level",
                    "ours: read/total  ms/zone", "zxing-cpp: read/total  ms",
                    "libdmtx: read/total  ms");
        for (const auto& [key, zones] : sets) {
            const std::string symbology = key.substr(0, key.find('/'));
            const std::string level = key.substr(key.find('/') + 1);
            std::printf("%-11s %-9s", symbology.c_str(), level.c_str());
            for (const Reader& reader : Readers(symbology)) {
                const Row row = Measure(symbology, level, reader, zones);
                std::printf(" | %2d/%-2d mis %d %9.2f ms    ", row.read, row.total, row.misread,
                            row.medianMs);
            }
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kovran_bench_symbols: %s\n", e.what());
        if (temporary) fs::remove_all(root);
        return 1;
    }
    if (temporary) fs::remove_all(root);
    return 0;
}
