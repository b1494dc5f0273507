// Cheque-sized bilevel pages as the library's own codec writes them (the
// saving of format 9 at 1 bit), and a two-page file whose every byte and
// offset is worked out here from the layout rules rather than taken from
// the writer.
#include <unistd.h>

#include <string>
#include <utility>

#include "imaging/codec/codec.h"
#include "imaging/pdf/pdf_image.h"
#include "imaging/pdf_fixture.h"

namespace kovran::test::pdf {
namespace {

using namespace std::string_literals;
namespace codec = kovran::imaging::codec;

class PdfChequeTest : public PdfFixture {
  protected:
    // A 2000 x 900 cheque at 200 dpi: white, a black frame, black blocks.
    static Grey Cheque() {
        Grey g{2000, 900, std::vector<std::uint8_t>(2000u * 900u, 255)};
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                const bool frame = x < 20 || y < 20 || x >= g.width - 20 || y >= g.height - 20;
                const bool block = (x / 100 + y / 100) % 3 == 0 && y > 300;
                if (frame || block) g.pixels[static_cast<std::size_t>(y) * g.width + x] = 0;
            }
        return g;
    }
    std::string CodecTiff(const std::string& name, codec::Format format, const Grey& g) {
        codec::Picture picture;
        picture.depth = codec::Depth::Bilevel;
        picture.pixels = imaging::ImageBuffer(g.width, g.height, 1, 255, {200.0, 200.0});
        std::copy(g.pixels.begin(), g.pixels.end(), picture.pixels.Data());
        std::string why;
        const std::optional<codec::Bytes> bytes =
            codec::Encode(picture, codec::EncodeOptions{.format = format}, &why);
        EXPECT_TRUE(bytes) << why;
        const std::string path = tmp_ / name;
        WriteFileBytes(path, bytes ? std::string(bytes->begin(), bytes->end()) : "");
        return path;
    }
    void ExpectPage(const std::string& image, const Grey& g) {
        SetLastResult(KVX_OK);
        const std::string pdf = Write("cheque.pdf", {}, {{image, 1}});
        EXPECT_EQ(LastResult(), KVX_OK);
        EXPECT_NE(ReadFileBytes(pdf).find("/MediaBox [0 0 594 324]"), std::string::npos);
        if (!HaveTool("qpdf") || !HaveTool("pdftoppm")) return;
        EXPECT_TRUE(QpdfClean(pdf));
        // 720 x 324 points squeezed to the A4 width: the image is drawn
        // 594 points wide; rendered 2000 pixels wide, rows are stretched.
        const Grey rendered = Render(pdf, 1, 72 * 2000 / 594);
        EXPECT_NEAR(rendered.width, g.width, 8);
        ASSERT_GT(rendered.height, 0);
        long long wrong = 0;
        for (int y = 0; y < rendered.height; ++y)
            for (int x = 0; x < std::min(rendered.width, g.width); ++x) {
                const int sy = std::min(g.height - 1, y * g.height / rendered.height);
                wrong += (rendered.At(x, y) < 128) != (g.At(x, sy) < 128);
            }
        EXPECT_LT(wrong, static_cast<long long>(rendered.width) * rendered.height / 20) << image;
    }
};

TEST_F(PdfChequeTest, CodecWrittenGroup3AndGroup4Pages) {
    const Grey g = Cheque();
    ExpectPage(CodecTiff("g3.tif", codec::Format::TiffG3, g), g);
    ExpectPage(CodecTiff("g4.tif", codec::Format::TiffG4, g), g);
}

// A width that is not a whole number of bytes: the decoder leaves the pad
// bits of each row's last byte as they were, which must not read as a strip
// that broke off.
TEST_F(PdfChequeTest, FaxPagesOfAWidthThatEndsInsideAByte) {
    Grey g{825, 900, std::vector<std::uint8_t>(825u * 900u, 255)};
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (x % 50 < 5 || y % 70 < 3) g.pixels[static_cast<std::size_t>(y) * g.width + x] = 0;
    for (const auto& [name, format] : {std::pair{"odd_g3.tif", codec::Format::TiffG3},
                                       std::pair{"odd_g4.tif", codec::Format::TiffG4}}) {
        SCOPED_TRACE(name);
        SetLastResult(KVX_OK);
        const std::string pdf = Write("odd.pdf", {}, {{CodecTiff(name, format, g), 1}});
        EXPECT_EQ(LastResult(), KVX_OK);
        EXPECT_NE(ReadFileBytes(pdf).find("/MediaBox [0 0 297 324]"), std::string::npos);
        if (HaveTool("qpdf")) EXPECT_TRUE(QpdfClean(pdf));
    }
}

TEST_F(PdfChequeTest, ManyStripGroup3AndGroup4Pages) {
    const Grey g = Cheque();
    for (int compression : {3, 4})
        for (int rows : {1, 7, 64, 899}) {
            SCOPED_TRACE(std::to_string(compression) + " rows " + std::to_string(rows));
            const std::string path = tmp_ / "strips.tif";
            WriteTiff(path,
                      TiffSpec{.width = g.width,
                               .height = g.height,
                               .compression = compression,
                               .rowsPerStrip = rows},
                      g);
            ExpectPage(path, g);
        }
}

// Two pages: the objects in write order with each offset counted from the
// lengths of the expected pieces, so a wrong offset, line end or entry
// order in the writer cannot also be in the expectation.
TEST_F(PdfChequeTest, TwoPageFileByteForByte) {
    const std::string a = "pdf_two_a.tif";
    const std::string b = "pdf two b.tif";  // the blank becomes '_'
    Grey ga{8, 1, {0, 255, 0, 255, 0, 255, 0, 255}};
    Grey gb{8, 1, {255, 255, 255, 255, 0, 0, 0, 0}};
    WriteTiff(a, TiffSpec{.width = 8, .height = 1, .photometric = 1, .dpi = 72}, ga);
    WriteTiff(b, TiffSpec{.width = 8, .height = 1, .photometric = 1, .dpi = 72}, gb);
    const std::string pdf =
        Write("two.pdf", PdfOptions{.pdfA = false, .title = true}, {{a, 5}, {b, 0x35}}, 11);
    ::unlink(a.c_str());
    ::unlink(b.c_str());

    const std::string eol = "\r\n";
    const auto obj = [&](int n, const std::string& entries) {
        return std::to_string(n) + " 0 obj" + eol + "<<" + eol + entries + ">>" + eol;
    };
    const auto entry = [&](const std::string& text) { return "\t" + text + eol; };
    const auto stream = [&](const std::string& data) {
        return "stream" + eol + data + eol + "endstream" + eol;
    };
    const std::string end = "endobj" + eol;
    const auto page = [&](int contents) {
        return obj(contents - 1, entry("/Contents " + std::to_string(contents) + " 0 R") +
                                     entry("/Type /Page") + entry("/MediaBox [0 0 008 001]") +
                                     entry("/Parent 2 0 R") + entry("/Resources <<") +
                                     "\t\t/XObject <<" + eol + "\t\t\t/" +
                                     (contents == 5 ? "pdf_two_a.tif" : "pdf_two_b.tif") + " " +
                                     std::to_string(contents + 1) + " 0 R" + eol + "\t\t>>" + eol +
                                     "\t>>" + eol) +
               end;
    };
    const auto content = [&](int n, const std::string& name) {
        const std::string text =
            "q\n\n1.00 0.00 -0.00 1.00 0.00 0.00 cm\n"
            "8.00 0.00 0.00 1.00 0.00 0.00 cm\n/" +
            name + " Do\nQ";
        return obj(n, entry("/Length " + std::to_string(text.size()))) + stream(text) + end;
    };
    const auto image = [&](int n, const std::string& name, char byte) {
        return obj(n, entry("/Type /XObject") + entry("/Subtype /Image") + entry("/Name /" + name) +
                          entry("/BitsPerComponent 1") + entry("/ColorSpace /DeviceGray") +
                          entry("/DecodeParms <<") + "\t\t/Columns 8" + eol + "\t\t/Rows 1" + eol +
                          "\t>>" + eol + entry("/Width 8") + entry("/Height 1") +
                          entry("/Length 1")) +
               stream(std::string(1, byte)) + end;
    };
    std::vector<std::pair<int, std::string>> objects = {
        {1, obj(1, entry("/Type /Catalog") + entry("/Pages 2 0 R")) + end},
        {2, obj(2, entry("/Type /Pages") + entry("/Kids [4 0 R 7 0 R]") + entry("/Count 2")) + end},
        {4, page(5)},
        {5, content(5, "pdf_two_a.tif")},
        {6, image(6, "pdf_two_a.tif", '\x55')},
        {7, page(8)},
        {8, content(8, "pdf_two_b.tif")},
        {9, image(9, "pdf_two_b.tif", '\xF0')},
        {3,
         obj(3, entry("/Title (two.pdf)") + entry("/Creator (KovranMS - KVX-C cheque scanner)")) +
             end},
    };
    std::string expected = "%PDF-1.4\r%\xE2\xE3\xCF\xD3\r\n";
    ASSERT_EQ(expected.size(), 16u);
    std::vector<std::size_t> offsets(10);
    for (const auto& [n, text] : objects) {
        offsets[static_cast<std::size_t>(n)] = expected.size();
        expected += text;
    }
    const std::size_t xref = expected.size();
    expected += "xref" + eol + "0 10" + eol + "0000000000 65535 f" + eol;
    for (int n = 1; n <= 9; ++n) {
        std::string offset = std::to_string(offsets[static_cast<std::size_t>(n)]);
        const std::string line = std::string(10 - offset.size(), '0') + offset + " 00000 n" + eol;
        ASSERT_EQ(line.size(), 20u);
        expected += line;
    }
    expected += "trailer" + eol + "<<" + eol + "/Size 10" + eol + "/Root 1 0 R" + eol +
                "/Info 3 0 R" + eol + ">>" + eol + "startxref" + eol + std::to_string(xref) + eol +
                "%%EOF" + eol;

    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(offsets[1], 16u);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
}

}  // namespace
}  // namespace kovran::test::pdf
