// Several threads encoding and decoding at once: each codec handle keeps
// its own error state, so one thread's failure reason never turns up in
// another's, and good files keep decoding while bad ones fail beside them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "imaging/codec_pictures.h"

namespace kovran::imaging::codec {
namespace {

using test::MustEncode;
using test::Pattern;

TEST(CodecThreads, FailuresStayWithTheirOwnHandle) {
    const Picture grey = Pattern(40, 30, Depth::Grey);
    const Picture bilevel = Pattern(40, 30, Depth::Bilevel);
    const std::vector<Bytes> good = {MustEncode(bilevel, {.format = Format::TiffG4}),
                                     MustEncode(grey, {.format = Format::TiffLzw}),
                                     MustEncode(grey, {.format = Format::Jpeg}),
                                     MustEncode(grey, {.format = Format::Png})};
    std::vector<Bytes> bad;
    for (const Bytes& b : good)
        bad.emplace_back(b.begin(), b.begin() + static_cast<long>(b.size() / 2));
    const char* prefixes[] = {"TIFF", "TIFF", "JPEG", "PNG"};

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const std::size_t i = static_cast<std::size_t>((t + round) % 4);
                std::string why;
                if (!Decode(good[i], &why)) ++wrong;
                if (Decode(bad[i], &why) || why.rfind(prefixes[i], 0) != 0) ++wrong;
                if (!Encode(round % 2 ? bilevel : grey,
                            {.format = round % 2 ? Format::TiffG3 : Format::TiffJpeg}))
                    ++wrong;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace kovran::imaging::codec
