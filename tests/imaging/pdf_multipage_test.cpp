// The library's multipage PDF: opening with its forcing rules, one at a
// time, adds that convert each file first, and the close.
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "api/frame_state.h"
#include "imaging/codec/codec.h"
#include "imaging/pdf_fixture.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran::test::pdf {
namespace {

class MultiPagePdfTest : public PdfFixture {
  protected:
    void TearDown() override {
        if (MultiPagePdfIsOpen()) MultiPagePdfClose();
        PdfFixture::TearDown();
    }
    // A grey 8-bit BMP of the pattern, as a host hands it over.
    std::string Bmp(const std::string& name, int width = 200, int height = 120) {
        const Grey g = TestPattern(width, height);
        imaging::codec::Picture p{imaging::ImageBuffer(width, height, 1, 0, {200, 200}),
                                  imaging::codec::Depth::Grey};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) p.pixels.At(x, y) = g.At(x, y);
        auto bytes = imaging::codec::Encode(p, {.format = imaging::codec::Format::Bmp});
        EXPECT_TRUE(bytes);
        const std::string path = tmp_ / name;
        WriteFileBytes(path, std::string(bytes->begin(), bytes->end()));
        return path;
    }
};

TEST_F(MultiPagePdfTest, JpegPagesFromConvertedFiles) {
    const std::string pdf = tmp_ / "multi.pdf";
    ASSERT_EQ(MultiPagePdfOpen(pdf, 7, 0), KVX_OK);
    EXPECT_TRUE(Logged("MultiPage - invalid quality value - forcing 60"));
    EXPECT_TRUE(MultiPagePdfIsOpen());
    const std::string a = Bmp("a.bmp");
    const std::string b = Bmp("b.bmp", 300, 100);
    EXPECT_EQ(MultiPagePdfAdd(a.c_str()), KVX_OK);
    EXPECT_EQ(MultiPagePdfAdd(b.c_str()), KVX_OK);
    EXPECT_EQ(LastResult(), KVX_OK);
    // Converted in place to JPEG.
    EXPECT_EQ(ReadFileBytes(a).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(MultiPagePdfClose(), KVX_OK);
    EXPECT_FALSE(MultiPagePdfIsOpen());
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_NE(bytes.find("/Count 2"), std::string::npos);
    EXPECT_NE(bytes.find("/Filter /DCTDecode"), std::string::npos);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
    if (HaveTool("pdftoppm")) {
        EXPECT_TRUE(ShowsPicture(Render(pdf, 2, 200), TestPattern(300, 100)));
    }
}

TEST_F(MultiPagePdfTest, TiffPagesByBitsPerPixel) {
    const std::string pdf = tmp_ / "g3.pdf";
    ASSERT_EQ(MultiPagePdfOpen(pdf, 9, 4), KVX_OK);
    EXPECT_TRUE(Logged("MultiPage - invalid parameter for TIFF - forcing 1"));
    EXPECT_EQ(MultiPagePdfAdd(Bmp("a.bmp").c_str()), KVX_OK);
    ASSERT_EQ(MultiPagePdfClose(), KVX_OK);
    EXPECT_NE(ReadFileBytes(pdf).find("/Filter /CCITTFaxDecode"), std::string::npos);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
    if (HaveTool("pdftoppm")) {
        EXPECT_TRUE(ShowsPicture(Render(pdf, 1, 200), TestPattern(200, 120)));
    }

    const std::string lzw = tmp_ / "lzw.pdf";
    ASSERT_EQ(MultiPagePdfOpen(lzw, 9, 8), KVX_OK);
    EXPECT_EQ(MultiPagePdfAdd(Bmp("b.bmp").c_str()), KVX_OK);
    ASSERT_EQ(MultiPagePdfClose(), KVX_OK);
    EXPECT_NE(ReadFileBytes(lzw).find("/Filter /LZWDecode"), std::string::npos);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(lzw));
    }
    if (HaveTool("pdftoppm")) {
        EXPECT_TRUE(ShowsPicture(Render(lzw, 1, 200), TestPattern(200, 120)));
    }
}

TEST_F(MultiPagePdfTest, OneAtATimeAndBadFormats) {
    ASSERT_EQ(MultiPagePdfOpen(tmp_ / "one.pdf", 7, 80), KVX_OK);
    EXPECT_EQ(MultiPagePdfOpen(tmp_ / "two.pdf", 7, 80), KVX_ERR_GENERIC);
    EXPECT_TRUE(Logged("multipage pending"));
    EXPECT_FALSE(platform::FileExists(tmp_ / "two.pdf"));
    EXPECT_EQ(MultiPagePdfClose(), KVX_OK);

    EXPECT_EQ(MultiPagePdfOpen(tmp_ / "bad.pdf", 8, 80), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("MultiPage - invalid encoding parameter"));
    EXPECT_FALSE(MultiPagePdfIsOpen());
}

TEST_F(MultiPagePdfTest, AddAndCloseWithoutOpenThenOpenAgain) {
    EXPECT_EQ(MultiPagePdfOpen(tmp_ / "no/such/dir.pdf", 7, 80), KVX_ERR_GENERIC);
    EXPECT_TRUE(Logged(tmp_ / "no/such/dir.pdf"));
    EXPECT_TRUE(Logged("could not open pdf to write to (C) " +
                       std::to_string(platform::WinErrorFromErrno(ENOENT))));
    EXPECT_FALSE(MultiPagePdfIsOpen());
    EXPECT_EQ(MultiPagePdfAdd(Bmp("a.bmp").c_str()), KVX_ERR_NOT_INITIALIZED);
    EXPECT_EQ(LastResult(), KVX_ERR_NOT_INITIALIZED);
    EXPECT_TRUE(Logged("MultiPage - missing initialization"));
    EXPECT_EQ(MultiPagePdfClose(), KVX_ERR_NOT_INITIALIZED);
    EXPECT_EQ(MultiPagePdfOpen(tmp_ / "ok.pdf", 7, 80), KVX_OK);
    EXPECT_EQ(MultiPagePdfClose(), KVX_OK);
}

TEST_F(MultiPagePdfTest, CloseThatCannotWriteReportsItAndRemovesTheFile) {
    const std::string pdf = tmp_ / "full.pdf";
    ASSERT_EQ(MultiPagePdfOpen(pdf, 7, 80), KVX_OK);
    ASSERT_EQ(MultiPagePdfAdd(Bmp("a.bmp", 600, 400).c_str()), KVX_OK);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 500;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const KVXResult result = MultiPagePdfClose();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, KVX_ERR_WRITE);
    EXPECT_EQ(LastResult(), KVX_ERR_WRITE);
    EXPECT_TRUE(Logged("could not write pdf"));
    EXPECT_FALSE(platform::FileExists(pdf));
    EXPECT_FALSE(MultiPagePdfIsOpen());
}

TEST_F(MultiPagePdfTest, EmptyMultipageHasNoKids) {
    const std::string pdf = tmp_ / "empty.pdf";
    ASSERT_EQ(MultiPagePdfOpen(pdf, 9, 1), KVX_OK);
    ASSERT_EQ(MultiPagePdfClose(), KVX_OK);
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_NE(bytes.find("\t/Type /Pages\r\n\t/Count 0\r\n>>"), std::string::npos);
    EXPECT_EQ(bytes.find("/Kids"), std::string::npos);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
}

TEST_F(MultiPagePdfTest, FailedConversionLeavesAnEmptyA4Page) {
    const std::string pdf = tmp_ / "holes.pdf";
    ASSERT_EQ(MultiPagePdfOpen(pdf, 7, 80), KVX_OK);
    WriteFileBytes(tmp_ / "junk.bmp", "BM not a bitmap");
    EXPECT_EQ(MultiPagePdfAdd((tmp_ / "junk.bmp").c_str()), KVX_ERR_GENERIC);
    EXPECT_TRUE(Logged("error converting to JPEG"));
    EXPECT_EQ(ReadFileBytes(tmp_ / "junk.bmp"), "BM not a bitmap");  // left as it was
    EXPECT_EQ(MultiPagePdfAdd(nullptr), KVX_ERR_GENERIC);
    EXPECT_EQ(MultiPagePdfAdd(Bmp("a.bmp").c_str()), KVX_OK);
    ASSERT_EQ(MultiPagePdfClose(), KVX_OK);
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_NE(bytes.find("/Count 3"), std::string::npos);
    EXPECT_NE(bytes.find("/MediaBox [0 0 594 841]"), std::string::npos);
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
}

TEST_F(MultiPagePdfTest, PageErrorsAndTheirMessages) {
    const std::string pdf = tmp_ / "errors.pdf";
    PdfDocumentPtr doc = PdfOpen(pdf, 3, {});
    ASSERT_TRUE(doc);
    EXPECT_EQ(PdfAddImagePage(*doc, nullptr, 0x10), -1);
    EXPECT_TRUE(Logged("err -  pdf with null filename  16"));
    EXPECT_EQ(PdfAddImagePage(*doc, (tmp_ / "none.jpg").c_str(), 0), -1);
    EXPECT_TRUE(Logged("err -  pdf with invalid filename  0"));
    // A readable image with a format that has no image kind: the page
    // stays, empty.
    EXPECT_EQ(PdfAddImagePage(*doc, Tiff("a.tif").c_str(), 4), -1);
    EXPECT_TRUE(Logged("err -  pdf with invalid image format  4"));
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(doc->pageCount, 1);
    ASSERT_TRUE(PdfClose(std::move(doc)));
    if (HaveTool("qpdf")) {
        EXPECT_TRUE(QpdfClean(pdf));
    }
}

TEST_F(MultiPagePdfTest, ConvertiImgFormatsAndFailures) {
    std::string file = Bmp("c.bmp");
    EXPECT_FALSE(ConvertiImg(file, 7, 0));
    EXPECT_TRUE(Logged("err -  invalid format  7"));
    EXPECT_FALSE(ConvertiImg(tmp_ / "absent.bmp", 0, 50));
    EXPECT_TRUE(Logged("ConvertiImg - creating " + (tmp_ / "absent.bmp")));
    for (int format : {1, 2, 3, 4, 5, 6, 0}) {
        SCOPED_TRACE(format);
        file = Bmp("c.bmp");
        ASSERT_TRUE(ConvertiImg(file, format, 75));
        auto picture = imaging::codec::DecodeFile(file);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->pixels.Width(), 200);
        EXPECT_EQ(picture->depth == imaging::codec::Depth::Bilevel, format == 1 || format == 2);
    }
    // One bit to a JPEG compression: the warning, and a file that holds it.
    ASSERT_TRUE(ConvertiImg(file, 1, 0));
    ASSERT_TRUE(ConvertiImg(file, 6, 80));
    EXPECT_TRUE(Logged("war -  b&w image - changing from COMPRESSION_JPEG to COMPRESSION_NONE"));
    ASSERT_TRUE(ConvertiImg(file, 1, 0));
    ASSERT_TRUE(ConvertiImg(file, 0, 80));
    EXPECT_EQ(ReadFileBytes(file).substr(0, 2), "\xFF\xD8");
}

}  // namespace
}  // namespace kovran::test::pdf
