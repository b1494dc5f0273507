// The complete PDF/A-1b form ("pdfAFull"), checked from the written file by
// independent readers: qpdf's JSON for the object structure, Python's XML
// parser for the XMP packet, and the ICC header read byte by byte.
#include <nlohmann/json.hpp>

#include <map>
#include <string>

#include "api/settings.h"
#include "imaging/pdf_fixture.h"

namespace kovran::test::pdf {
namespace {

using nlohmann::json;

// 2026-12-09 13:05:07 UTC, one hour east.
constexpr std::int64_t kUnixNs = 1796821507LL * 1000000000LL;
const PdfOptions kArchive{
    .pdfA = true, .title = true, .archive = true, .unixNs = kUnixNs, .utcOffsetSeconds = 3600};

// Prints "key=value" lines of what a PDF/A-1 validator reads from the XMP.
constexpr const char* kXmpReader = R"PY(
import sys, xml.dom.minidom as m
raw = open(sys.argv[1], 'rb').read()
doc = m.parseString(raw)
ns = {'pdfaid': 'http://www.aiim.org/pdfa/ns/id/', 'dc': 'http://purl.org/dc/elements/1.1/',
      'xmp': 'http://ns.adobe.com/xap/1.0/', 'pdf': 'http://ns.adobe.com/pdf/1.3/'}
def text(prefix, name):
    for e in doc.getElementsByTagNameNS(ns[prefix], name):
        return ''.join(n.data for n in e.getElementsByTagName('rdf:li') and
                       e.getElementsByTagName('rdf:li')[0].childNodes or e.childNodes
                       if n.nodeType == n.TEXT_NODE)
    return '<absent>'
for p, n in [('pdfaid','part'), ('pdfaid','conformance'), ('dc','title'), ('xmp','CreatorTool'),
             ('xmp','CreateDate'), ('xmp','ModifyDate'), ('pdf','Producer')]:
    sys.stdout.buffer.write(('%s:%s=%s\n' % (p, n, text(p, n))).encode('utf-8'))
)PY";

class PdfArchiveTest : public PdfFixture {
  protected:
    void SetUp() override {
        PdfFixture::SetUp();
        if (!HaveTool("qpdf") || !HaveTool("python3"))
            GTEST_SKIP() << "qpdf and python3 are needed: scripts/setup";
    }
    json Objects(const std::string& pdf) {
        const CommandResult r = RunCommand("qpdf --json=2 --json-key=qpdf '" + pdf + "'");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        const json j = json::parse(r.output, nullptr, false);
        return j.is_discarded() ? json::object() : j["qpdf"][1];
    }
    static const json& Value(const json& objects, const std::string& ref) {
        return objects["obj:" + ref]["value"];
    }
    static const json& StreamDict(const json& objects, const std::string& ref) {
        return objects["obj:" + ref]["stream"]["dict"];
    }
    static int Number(const std::string& ref) { return std::stoi(ref); }
    std::string StreamData(const std::string& pdf, const std::string& ref) {
        const CommandResult r = RunCommand("qpdf --show-object=" + std::to_string(Number(ref)) +
                                           " --raw-stream-data '" + pdf + "'");
        EXPECT_EQ(r.exitCode, 0);
        return r.output;
    }
    std::map<std::string, std::string> ReadXmp(const std::string& xmp) {
        WriteFileBytes(tmp_ / "xmp.xml", xmp);
        WriteFileBytes(tmp_ / "read_xmp.py", kXmpReader);
        const CommandResult r =
            RunCommand("python3 '" + (tmp_ / "read_xmp.py") + "' '" + (tmp_ / "xmp.xml") + "'");
        EXPECT_EQ(r.exitCode, 0) << "the XMP packet does not parse as XML:\n" << r.output;
        std::map<std::string, std::string> values;
        std::size_t pos = 0;
        while (pos < r.output.size()) {
            const std::size_t end = r.output.find('\n', pos);
            const std::string line = r.output.substr(pos, end - pos);
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
            pos = end == std::string::npos ? r.output.size() : end + 1;
        }
        return values;
    }
    std::string ArchiveFile(const std::string& name, const PdfOptions& options = kArchive) {
        const std::string pdf = tmp_ / name;
        PdfDocumentPtr doc = PdfOpen(pdf, 3, options);
        EXPECT_TRUE(doc);
        EXPECT_EQ(PdfAddImagePage(*doc, Tiff("g4.tif", TiffSpec{.compression = 4}).c_str(), 2), 1);
        EXPECT_EQ(
            PdfAddImagePage(
                *doc,
                Tiff("lzw.tif", TiffSpec{.bitsPerSample = 8, .compression = 5, .photometric = 1})
                    .c_str(),
                3),
            1);
        EXPECT_EQ(PdfAddImagePage(*doc, Jpeg("j.jpg", 64, 48, 200, 3).c_str(), 0), 1);
        PdfNewPage(*doc, "[0 0 594 841]");
        EXPECT_TRUE(PdfClose(std::move(doc)));
        return pdf;
    }
};

// "D:20261209140507+01'00'" as XMP writes it.
std::string XmpDateOf(const std::string& pdfDate) {
    const std::string d = pdfDate.substr(pdfDate.find("D:") + 2);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + "T" + d.substr(8, 2) +
           ":" + d.substr(10, 2) + ":" + d.substr(12, 2) + d.substr(14, 3) + ":" + d.substr(18, 2);
}

std::string TextOf(const json& v) {
    const std::string s = v.is_string() ? v.get<std::string>() : "";
    return s.rfind("u:", 0) == 0 ? s.substr(2) : s;
}

TEST_F(PdfArchiveTest, IdentificationOutputIntentAndIdAreThere) {
    const std::string pdf = ArchiveFile("doc.pdf");
    EXPECT_TRUE(QpdfClean(pdf));
    const json objects = Objects(pdf);
    const json& trailer = objects["trailer"]["value"];
    ASSERT_TRUE(trailer.contains("/ID"));
    ASSERT_EQ(trailer["/ID"].size(), 2u);
    EXPECT_EQ(trailer["/ID"][0].get<std::string>().size(), 2u + 32u);  // "b:" + 16 bytes
    EXPECT_FALSE(trailer.contains("/Encrypt"));

    const json& root = Value(objects, trailer["/Root"].get<std::string>());
    const json& intents = root["/OutputIntents"];
    ASSERT_EQ(intents.size(), 1u);
    const json& intent = Value(objects, intents[0].get<std::string>());
    EXPECT_EQ(intent["/Type"], "/OutputIntent");
    EXPECT_EQ(intent["/S"], "/GTS_PDFA1");
    EXPECT_FALSE(TextOf(intent["/OutputConditionIdentifier"]).empty());
    const std::string profileRef = intent["/DestOutputProfile"].get<std::string>();
    EXPECT_EQ(StreamDict(objects, profileRef)["/N"], 3);

    // The ICC header: its own size, the signature, version 2 (PDF/A-1),
    // a display profile of RGB data.
    const std::string icc = StreamData(pdf, profileRef);
    ASSERT_GE(icc.size(), 128u);
    const auto u8 = [&](std::size_t i) { return static_cast<unsigned char>(icc[i]); };
    EXPECT_EQ(std::size_t{u8(0)} << 24 | std::size_t{u8(1)} << 16 | std::size_t{u8(2)} << 8 | u8(3),
              icc.size());
    EXPECT_EQ(icc.substr(36, 4), "acsp");
    EXPECT_EQ(u8(8), 2);
    EXPECT_LE(u8(9), 0x40);
    EXPECT_EQ(icc.substr(12, 4), "mntr");
    EXPECT_EQ(icc.substr(16, 4), "RGB ");
}

TEST_F(PdfArchiveTest, XmpPacketMirrorsTheInfoDictionary) {
    const std::string pdf = ArchiveFile("doc.pdf");
    const json objects = Objects(pdf);
    const json& trailer = objects["trailer"]["value"];
    const json& root = Value(objects, trailer["/Root"].get<std::string>());
    const json& info = Value(objects, trailer["/Info"].get<std::string>());
    const std::string metadataRef = root["/Metadata"].get<std::string>();
    const json& metadata = StreamDict(objects, metadataRef);
    EXPECT_EQ(metadata["/Type"], "/Metadata");
    EXPECT_EQ(metadata["/Subtype"], "/XML");
    EXPECT_FALSE(metadata.contains("/Filter"));

    const std::string xmp = StreamData(pdf, metadataRef);
    EXPECT_EQ(xmp.rfind("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>", 0),
              0u);
    EXPECT_NE(xmp.find("<?xpacket end=\"w\"?>"), std::string::npos);
    EXPECT_EQ(xmp.find("bytes="), std::string::npos);
    EXPECT_EQ(xmp.find("encoding="), std::string::npos);

    const auto v = ReadXmp(xmp);
    EXPECT_EQ(v.at("pdfaid:part"), "1");
    EXPECT_EQ(v.at("pdfaid:conformance"), "B");
    EXPECT_EQ(v.at("dc:title"), TextOf(info["/Title"]));
    EXPECT_EQ(TextOf(info["/Title"]), "doc.pdf");
    EXPECT_EQ(v.at("xmp:CreatorTool"), TextOf(info["/Creator"]));
    EXPECT_EQ(v.at("pdf:Producer"), TextOf(info["/Producer"]));
    EXPECT_EQ(TextOf(info["/CreationDate"]), "D:20261209140507+01'00'");
    EXPECT_EQ(v.at("xmp:CreateDate"), XmpDateOf(TextOf(info["/CreationDate"])));
    EXPECT_EQ(v.at("xmp:ModifyDate"), XmpDateOf(TextOf(info["/ModDate"])));
}

TEST_F(PdfArchiveTest, NothingPdfA1Forbids) {
    const std::string pdf = ArchiveFile("doc.pdf");
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_EQ(bytes.rfind("%PDF-1.4\r%\xE2\xE3\xCF\xD3\r\n", 0), 0u);
    const json objects = Objects(pdf);
    const std::string all = objects.dump();
    for (const char* forbidden :
         {"/LZWDecode", "/SMask", "/Group", "/JavaScript", "/JS", "/OpenAction", "/AA", "/Encrypt",
          "/Alternates", "/OPI", "/FFilter", "/FDecodeParms", "/EmbeddedFiles"})
        EXPECT_EQ(all.find(std::string("\"") + forbidden + "\""), std::string::npos) << forbidden;
    for (const auto& [key, object] : objects.items()) {
        if (!object.contains("stream")) continue;
        const json& dict = object["stream"]["dict"];
        EXPECT_FALSE(dict.contains("/F")) << key;  // external stream data
        EXPECT_FALSE(dict.contains("/Interpolate") && dict["/Interpolate"] == true) << key;
    }
    // Every page has resources, also the empty one.
    for (const auto& [key, object] : objects.items()) {
        if (object.contains("value") && object["value"].is_object() &&
            object["value"].value("/Type", "") == "/Page") {
            EXPECT_TRUE(object["value"].contains("/Resources")) << key;
        }
    }
    // The LZW page went in deflated and still shows the picture.
    EXPECT_NE(all.find("/FlateDecode"), std::string::npos);
    if (HaveTool("pdftoppm")) {
        EXPECT_TRUE(ShowsPicture(Render(pdf, 2, 200), TestPattern(64, 48)));
    }
    EXPECT_TRUE(QpdfClean(pdf));
}

TEST_F(PdfArchiveTest, UnicodeAndControlsInTheTitleMirrorAlike) {
    const std::string pdf = tmp_ / "Prüfung\x01 & <x>.pdf";
    PdfDocumentPtr doc = PdfOpen(pdf, 3, kArchive);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(PdfClose(std::move(doc)));
    EXPECT_TRUE(QpdfClean(pdf));
    const json objects = Objects(pdf);
    const json& trailer = objects["trailer"]["value"];
    const json& info = Value(objects, trailer["/Info"].get<std::string>());
    const std::string metadataRef =
        Value(objects, trailer["/Root"].get<std::string>())["/Metadata"].get<std::string>();
    const auto v = ReadXmp(StreamData(pdf, metadataRef));
    EXPECT_EQ(TextOf(info["/Title"]), "Prüfung\uFFFD & <x>.pdf");
    EXPECT_EQ(v.at("dc:title"), TextOf(info["/Title"]));
}

TEST_F(PdfArchiveTest, EmptyDocumentKeepsItsKids) {
    const std::string pdf = tmp_ / "empty.pdf";
    ASSERT_TRUE(PdfClose(PdfOpen(pdf, 3, kArchive)));
    EXPECT_NE(ReadFileBytes(pdf).find("\t/Type /Pages\r\n\t/Kids []\r\n\t/Count 0\r\n"),
              std::string::npos);
    EXPECT_TRUE(QpdfClean(pdf));
}

TEST_F(PdfArchiveTest, OptionNeedsPdfAAndDefaultsOff) {
    PdfOptions fullWithoutPdfA = kArchive;
    fullWithoutPdfA.pdfA = false;
    PdfOptions plain = kArchive;
    plain.pdfA = false;
    plain.archive = false;
    const std::string full = ReadFileBytes(ArchiveFile("doc.pdf", fullWithoutPdfA));
    EXPECT_EQ(ReadFileBytes(ArchiveFile("doc.pdf", plain)), full);

    Settings().scan.pdfA = 1;
    Settings().scan.pdfTitle = 1;
    EXPECT_FALSE(OptionsFromSettings().archive);
    Settings().scan.pdfAFull = 1;
    EXPECT_TRUE(OptionsFromSettings().archive);
    Settings().scan.pdfA = 0;
    EXPECT_FALSE(OptionsFromSettings().archive);
}

}  // namespace
}  // namespace kovran::test::pdf
