// The writer's bytes: a whole small file against its hand-written text,
// the page sizes, object numbers, cross-reference entries and the Info
// dictionary, each file also checked by qpdf.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "api/settings.h"
#include "imaging/pdf_fixture.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran::test::pdf {
namespace {

using namespace std::string_literals;

class PdfWriterTest : public PdfFixture {};

// Offsets below were counted by hand from the text, not by the writer.
TEST_F(PdfWriterTest, SmallFileIsExactlyTheExpectedBytes) {
    RequireQpdf();
    // Relative, so that the image's resource name does not depend on the
    // scratch directory (ctest runs the test in its build directory).
    const std::string image = "pdf_exact_16x2.tif";
    Grey g{16, 2, std::vector<std::uint8_t>(32, 255)};
    for (int x = 8; x < 16; ++x) g.pixels[x] = 0;
    for (int x : {0, 1, 2, 3, 12, 13, 14, 15}) g.pixels[16 + x] = 0;
    WriteTiff(image, TiffSpec{.width = 16, .height = 2, .photometric = 1, .dpi = 72}, g);
    const std::string pdf =
        Write("doc.pdf", PdfOptions{.pdfA = false, .title = true}, {{image, 5}}, 3);
    ::unlink(image.c_str());

    const std::string content =
        "q\n\n1.00 0.00 -0.00 1.00 0.00 0.00 cm\n16.00 0.00 0.00 2.00 0.00 0.00 cm\n"
        "/pdf_exact_16x2.tif Do\nQ";
    const std::string expected =
        "%PDF-1.4\r%\xE2\xE3\xCF\xD3\r\n"
        "1 0 obj\r\n<<\r\n\t/Type /Catalog\r\n\t/Pages 2 0 R\r\n>>\r\nendobj\r\n"
        "2 0 obj\r\n<<\r\n\t/Type /Pages\r\n\t/Kids [4 0 R]\r\n\t/Count 1\r\n>>\r\nendobj\r\n"
        "4 0 obj\r\n<<\r\n\t/Contents 5 0 R\r\n\t/Type /Page\r\n\t/MediaBox [0 0 016 002]\r\n"
        "\t/Parent 2 0 R\r\n\t/Resources <<\r\n\t\t/XObject <<\r\n"
        "\t\t\t/pdf_exact_16x2.tif 6 0 R\r\n\t\t>>\r\n\t>>\r\n>>\r\nendobj\r\n"
        "5 0 obj\r\n<<\r\n\t/Length 95\r\n>>\r\nstream\r\n" +
        content +
        "\r\nendstream\r\nendobj\r\n"
        "6 0 obj\r\n<<\r\n\t/Type /XObject\r\n\t/Subtype /Image\r\n\t/Name /pdf_exact_16x2.tif\r\n"
        "\t/BitsPerComponent 1\r\n\t/ColorSpace /DeviceGray\r\n\t/DecodeParms <<\r\n"
        "\t\t/Columns 16\r\n\t\t/Rows 2\r\n\t>>\r\n\t/Width 16\r\n\t/Height 2\r\n\t/Length 4\r\n"
        ">>\r\nstream\r\n\xFF\x00\x0F\xF0\r\nendstream\r\nendobj\r\n"s +
        "3 0 obj\r\n<<\r\n\t/Title (doc.pdf)\r\n\t/Creator (KovranMS - KVX-A cheque scanner)\r\n"
        ">>\r\nendobj\r\n"
        "xref\r\n0 7\r\n"
        "0000000000 65535 f\r\n"
        "0000000016 00000 n\r\n"
        "0000000073 00000 n\r\n"
        "0000000711 00000 n\r\n"
        "0000000140 00000 n\r\n"
        "0000000311 00000 n\r\n"
        "0000000465 00000 n\r\n"
        "trailer\r\n<<\r\n/Size 7\r\n/Root 1 0 R\r\n/Info 3 0 R\r\n>>\r\n"
        "startxref\r\n800\r\n%%EOF\r\n";
    EXPECT_EQ(ReadFileBytes(pdf), expected);
    EXPECT_TRUE(QpdfClean(pdf));
}

TEST_F(PdfWriterTest, MediaBoxFollowsSizeAndResolutionCappedAtA4) {
    EXPECT_EQ(MediaBoxFor(1700, 800, 200), "[0 0 594 288]");  // 612 wide, capped
    EXPECT_EQ(MediaBoxFor(2480, 3508, 300), "[0 0 594 841]");
    EXPECT_EQ(MediaBoxFor(1600, 700, 200), "[0 0 576 252]");
    EXPECT_EQ(MediaBoxFor(100, 50, 200), "[0 0 036 018]");
    EXPECT_EQ(MediaBoxFor(1700, 6000, 200), "[0 0 239 841]");  // g = 256
    EXPECT_EQ(MediaBoxFor(3000, 1000, 200), "[0 0 594 281]");  // g = 128
    EXPECT_EQ(MediaBoxFor(800, 300, 0), "[0 0 594 315]");      // 0 dpi counts as 1
    EXPECT_EQ(MediaBoxFor(800, 300, -5), "[0 0 594 315]");
    // No overflow for the largest sizes a file can state.
    EXPECT_EQ(MediaBoxFor(0x7FFFFFFF, 0x7FFFFFFF, 1), "[0 0 594 841]");
}

TEST_F(PdfWriterTest, PageSizeComesFromTheImageFile) {
    RequireQpdf();
    const std::string jpeg = Jpeg("wide.jpg", 1700, 800, 200);
    const std::string zeroDpi = Tiff("zero.tif", TiffSpec{.width = 800, .height = 300, .dpi = 0});
    const std::string tall = Tiff("tall.tif", TiffSpec{.width = 1700, .height = 6000});
    const std::string pdf = Write("sizes.pdf", {}, {{jpeg, 0}, {zeroDpi, 1}, {tall, 0x31}});
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_NE(ObjectText(bytes, 4).find("/MediaBox [0 0 594 288]"), std::string::npos);
    EXPECT_NE(ObjectText(bytes, 7).find("/MediaBox [0 0 594 315]"), std::string::npos);
    EXPECT_NE(ObjectText(bytes, 10).find("/MediaBox [0 0 239 841]"), std::string::npos);
    EXPECT_TRUE(QpdfClean(pdf));
}

TEST_F(PdfWriterTest, ObjectNumbersKidsAndTrailerWithAndWithoutPdfA) {
    RequireQpdf();
    const std::string a = Tiff("a.tif");
    const std::string b = Jpeg("b.jpg", 64, 48, 100);

    const std::string plain = ReadFileBytes(Write("plain.pdf", {}, {{a, 1}, {b, 0}}));
    EXPECT_NE(ObjectText(plain, 2).find("\t/Kids [4 0 R 7 0 R]\r\n\t/Count 2\r\n"),
              std::string::npos);
    EXPECT_NE(plain.find("xref\r\n0 10\r\n"), std::string::npos);
    EXPECT_NE(plain.find("/Size 10\r\n/Root 1 0 R\r\n/Info 3 0 R\r\n>>"), std::string::npos);
    EXPECT_NE(ObjectText(plain, 5).find("stream"), std::string::npos);  // content
    EXPECT_NE(ObjectText(plain, 6).find("/Subtype /Image"), std::string::npos);
    EXPECT_NE(ObjectText(plain, 9).find("/Filter /DCTDecode"), std::string::npos);
    EXPECT_EQ(plain.find("/ID"), std::string::npos);
    EXPECT_EQ(plain.find("Metadata"), std::string::npos);

    const std::string pdfA =
        ReadFileBytes(Write("pdfa.pdf", PdfOptions{.pdfA = true}, {{a, 1}, {b, 0}}));
    EXPECT_NE(ObjectText(pdfA, 1).find("\t/Metadata 3 0 R\r\n>>"), std::string::npos);
    EXPECT_NE(ObjectText(pdfA, 2).find("/Kids [5 0 R 8 0 R]"), std::string::npos);
    EXPECT_NE(pdfA.find("/Size 11\r\n/Root 1 0 R\r\n/Info 4 0 R\r\n>>"), std::string::npos);
    EXPECT_EQ(pdfA.find("/ID"), std::string::npos);

    for (const std::string* bytes : {&plain, &pdfA}) {
        const XrefCheck x = ReadXref(*bytes);
        EXPECT_TRUE(x.entriesAre20Bytes);
        ASSERT_FALSE(x.entryOffsets.empty());
        EXPECT_EQ(x.entryOffsets[0], 0);
        EXPECT_EQ(x.entryOffsets[1], 16);  // the first object right after the header
        for (std::size_t n = 1; n < x.entryOffsets.size(); ++n) {
            const std::string head = std::to_string(n) + " 0 obj\r\n";
            EXPECT_EQ(
                bytes->compare(static_cast<std::size_t>(x.entryOffsets[n]), head.size(), head), 0)
                << "object " << n;
        }
        EXPECT_EQ(x.startxref, static_cast<long long>(bytes->rfind("xref\r\n0 ")));
    }
    EXPECT_TRUE(QpdfClean(tmp_ / "plain.pdf"));
    EXPECT_TRUE(QpdfClean(tmp_ / "pdfa.pdf"));
}

TEST_F(PdfWriterTest, PdfAMetadataIsTheFiveIdentificationLines) {
    RequireQpdf();
    const std::string bytes = ReadFileBytes(Write("m.pdf", PdfOptions{.pdfA = true}, {}));
    const std::string text =
        "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\r\n"
        "<pdfaid:conformance>B</pdfaid:conformance>\r\n<pdfaid:part>1</pdfaid:part>\r\n"
        "<pdfaid:amd>2005</pdfaid:amd>\r\n</rdf:Description>";
    EXPECT_EQ(ObjectText(bytes, 3),
              "3 0 obj\r\n<<\r\n\t/Type /Metadata\r\n\t/Subtype /XML\r\n\t/Length " +
                  std::to_string(text.size()) + "\r\n>>\r\nstream\r\n" + text +
                  "\r\nendstream\r\n");
    EXPECT_TRUE(QpdfClean(tmp_ / "m.pdf"));
}

TEST_F(PdfWriterTest, EmptyDocumentHasCountZeroAndNoKids) {
    RequireQpdf();
    const std::string bytes = ReadFileBytes(Write("empty.pdf", {}, {}));
    EXPECT_EQ(ObjectText(bytes, 2), "2 0 obj\r\n<<\r\n\t/Type /Pages\r\n\t/Count 0\r\n>>\r\n");
    // qpdf accepts a document without pages only with a warning-free tree.
    EXPECT_TRUE(QpdfClean(tmp_ / "empty.pdf"));
}

TEST_F(PdfWriterTest, InfoDictionaryFollowsTheTitleSetting) {
    const std::string titled = ReadFileBytes(Write("doc.pdf", PdfOptions{.title = true}, {}, 11));
    EXPECT_NE(ObjectText(titled, 3).find("/Title (doc.pdf)\r\n\t/Creator (KovranMS - KVX-C"),
              std::string::npos);
    const std::string untitled = ReadFileBytes(Write("x.pdf", PdfOptions{.title = false}, {}));
    EXPECT_EQ(ObjectText(untitled, 3), "3 0 obj\r\n<<\r\n>>\r\n");
    EXPECT_STREQ(CreatorText(3), CreatorText(9));
    EXPECT_STREQ(CreatorText(6), CreatorText(10));
    EXPECT_STRNE(CreatorText(3), CreatorText(6));
    EXPECT_STRNE(CreatorText(6), CreatorText(11));
    EXPECT_STRNE(CreatorText(11), CreatorText(4));
    EXPECT_STREQ(CreatorText(4), CreatorText(14));
}

TEST_F(PdfWriterTest, SettingsDecideTitleAndMetadata) {
    Settings().scan.pdfTitle = 2;  // only exactly 1 turns the title on
    Settings().scan.pdfA = 2;      // anything above 0 turns PDF/A on
    PdfDocumentPtr doc = PdfOpen(tmp_ / "s.pdf", 3);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->metadata != nullptr);
    EXPECT_EQ(doc->info->dictionary.Size(), 0u);
    ASSERT_TRUE(PdfClose(std::move(doc)));

    Settings().scan.pdfTitle = 1;
    Settings().scan.pdfA = 0;
    doc = PdfOpen(tmp_ / "dir\\back.pdf", 3);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->metadata, nullptr);
    EXPECT_EQ(doc->info->dictionary.ValueText("Title"), "(back.pdf)");
    PdfClose(std::move(doc));
}

TEST_F(PdfWriterTest, ImageNamesReplaceSeparatorsAndStayValidNames) {
    EXPECT_EQ(ImageResourceName("C:\\scan dir\\tmp.jpg", false), "C__scan_dir_tmp.jpg");
    EXPECT_EQ(ImageResourceName("/var/x/a b.tif", false), "_var_x_a_b.tif");
    // Delimiters would end the name token and break the dictionary.
    EXPECT_EQ(ImageResourceName("scan(1)#%.jpg", false), "scan#281#29#23#25.jpg");
    const std::string longName(300, 'n');
    EXPECT_EQ(ImageResourceName(longName, false).size(), 300u);
    EXPECT_EQ(ImageResourceName(longName, true).size(), 127u);
}

TEST_F(PdfWriterTest, OddFileNamesStillGiveValidFiles) {
    RequireQpdf();
    const std::string image = Tiff("scan (1) #2%.tif");
    const std::string pdf =
        Write("title (a) b).pdf", PdfOptions{.pdfA = true, .title = true}, {{image, 3}});
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_NE(bytes.find("/Title (title \\(a\\) b\\).pdf)"), std::string::npos);
    EXPECT_TRUE(QpdfClean(pdf));
}

TEST_F(PdfWriterTest, DocumentNeverClosedLeavesTheHeaderAlone) {
    const std::string path = tmp_ / "open.pdf";
    PdfDocumentPtr doc = PdfOpen(path, 3, {});
    ASSERT_TRUE(doc);
    EXPECT_EQ(PdfAddImagePage(*doc, Tiff("a.tif").c_str(), 1), 1);
    EXPECT_EQ(ReadFileBytes(path), "%PDF-1.4\r%\xE2\xE3\xCF\xD3\r\n");
    doc.reset();
    EXPECT_EQ(ReadFileBytes(path).size(), 16u);
}

TEST_F(PdfWriterTest, OpenFailsForNamesThatCannotBeCreated) {
    EXPECT_EQ(PdfOpen(tmp_ / "missing/dir/x.pdf", 3, {}), nullptr);
    EXPECT_EQ(platform::LastSystemError(), platform::WinErrorFromErrno(ENOENT));
    EXPECT_EQ(PdfOpen(tmp_ / std::string(5000, 'x'), 3, {}), nullptr);
    EXPECT_EQ(PdfOpen("", 3, {}), nullptr);
    EXPECT_FALSE(PdfClose(nullptr));
}

// The file size limit makes every write past it fail (EFBIG), as a full
// disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

TEST_F(PdfWriterTest, FailedCloseLeavesNoFile) {
    const std::string image = Jpeg("big.jpg", 400, 300, 200, 3);
    const std::string path = tmp_ / "full.pdf";
    PdfDocumentPtr doc = PdfOpen(path, 3, {});
    ASSERT_TRUE(doc);
    ASSERT_EQ(PdfAddImagePage(*doc, image.c_str(), 0), 1);
    {
        const FileSizeLimit limit(1000);
        EXPECT_FALSE(PdfClose(std::move(doc)));
    }
    EXPECT_FALSE(platform::FileExists(path));
    EXPECT_NE(platform::LastSystemError(), 0);

    // A device is written to but never removed.
    EXPECT_EQ(PdfOpen("/dev/full", 3, {}), nullptr);
    EXPECT_TRUE(platform::FileExists("/dev/full") || ::access("/dev/full", F_OK) == 0);
}

}  // namespace
}  // namespace kovran::test::pdf
