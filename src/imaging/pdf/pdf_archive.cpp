#include "imaging/pdf/pdf_archive.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "api/names.h"
#include "imaging/pdf/pdf_document.h"
#include "platform/clock.h"
#include "platform/name_hash.h"
#include "platform/utf8.h"

namespace kovran::imaging::pdf {

namespace {

constexpr const char* kPdfAIdNamespace = "http://www.aiim.org/pdfa/ns/id/";
constexpr const char* kOutputCondition = "sRGB IEC61966-2.1";

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendXmlEscaped(std::string& out, char32_t c) {
    switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            AppendUtf8(out, c);
    }
}

// Code points as both sides of the mirror show them: C0 and C1 controls
// have no place in XML text and are replaced alike.
std::u32string MirrorText(const std::string& text) {
    std::u32string cps = platform::DecodeUtf8(text);
    for (char32_t& c : cps)
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = U'\uFFFD';
    return cps;
}

std::string XmlText(const std::u32string& cps) {
    std::string out;
    for (char32_t c : cps) AppendXmlEscaped(out, c);
    return out;
}

std::string TextStringEntry(const std::string& raw, const std::u32string& cps) {
    bool plain = true;
    for (char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) plain = false;
    }
    if (plain) return LiteralString(raw);
    std::string out = "<FEFF";
    auto unit = [&](unsigned u) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 0xF];
    };
    for (char32_t c : cps) {
        if (c >= 0x10000) {
            const unsigned v = static_cast<unsigned>(c) - 0x10000;
            unit(0xD800 + (v >> 10));
            unit(0xDC00 + (v & 0x3FF));
        } else {
            unit(static_cast<unsigned>(c));
        }
    }
    return out + ">";
}

struct Stamp {
    platform::LocalTime t;
    char sign = '+';
    int offsetHours = 0;
    int offsetMinutes = 0;
};

Stamp LocalStamp(const PdfOptions& options) {
    Stamp s;
    constexpr std::int64_t kNsPerSecond = 1000000000;
    s.t = platform::UtcFromFileTime(
        platform::FileTimeFromUnixNs(options.unixNs + options.utcOffsetSeconds * kNsPerSecond));
    std::int64_t offset = options.utcOffsetSeconds;
    if (offset < 0) {
        s.sign = '-';
        offset = -offset;
    }
    s.offsetHours = static_cast<int>(offset / 3600);
    s.offsetMinutes = static_cast<int>(offset % 3600 / 60);
    return s;
}

}  // namespace

std::string PdfAIdentificationText() {
    return std::string("<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"") + kPdfAIdNamespace +
           "\">\r\n"
           "<pdfaid:conformance>B</pdfaid:conformance>\r\n"
           "<pdfaid:part>1</pdfaid:part>\r\n"
           "<pdfaid:amd>2005</pdfaid:amd>\r\n"
           "</rdf:Description>";
}

std::string ProducerText() {
    return std::string("KovranMS ") + kLibraryVersion;
}

ArchiveInfo MakeArchiveInfo(const std::string& title, const std::string& creator,
                            const PdfOptions& options) {
    ArchiveInfo info;
    const std::u32string titleCps = MirrorText(title);
    info.titleEntry = TextStringEntry(title, titleCps);
    info.titleXml = XmlText(titleCps);
    info.creatorXml = XmlText(MirrorText(creator));
    const Stamp s = LocalStamp(options);
    char buf[64];
    std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d%c%02d'%02d'", s.t.year, s.t.month,
                  s.t.day, s.t.hour, s.t.minute, s.t.second, s.sign, s.offsetHours,
                  s.offsetMinutes);
    info.pdfDate = buf;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", s.t.year, s.t.month,
                  s.t.day, s.t.hour, s.t.minute, s.t.second, s.sign, s.offsetHours,
                  s.offsetMinutes);
    info.xmpDate = buf;
    return info;
}

std::string XmpPacket(const ArchiveInfo& info) {
    std::string x;
    x += "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
    x += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n";
    x += "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
    x +=
        std::string("<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"") + kPdfAIdNamespace + "\">\n";
    x += "<pdfaid:part>1</pdfaid:part>\n";
    x += "<pdfaid:conformance>B</pdfaid:conformance>\n";
    x += "</rdf:Description>\n";
    x += "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
    x += "<dc:format>application/pdf</dc:format>\n";
    if (!info.titleXml.empty())
        x += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + info.titleXml +
             "</rdf:li></rdf:Alt></dc:title>\n";
    x += "</rdf:Description>\n";
    x += "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n";
    if (!info.creatorXml.empty())
        x += "<xmp:CreatorTool>" + info.creatorXml + "</xmp:CreatorTool>\n";
    x += "<xmp:CreateDate>" + info.xmpDate + "</xmp:CreateDate>\n";
    x += "<xmp:ModifyDate>" + info.xmpDate + "</xmp:ModifyDate>\n";
    x += "<xmp:MetadataDate>" + info.xmpDate + "</xmp:MetadataDate>\n";
    x += "</rdf:Description>\n";
    x += "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n";
    x += "<pdf:Producer>" + ProducerText() + "</pdf:Producer>\n";
    x += "</rdf:Description>\n";
    x += "</rdf:RDF>\n";
    x += "</x:xmpmeta>\n";
    x += "<?xpacket end=\"w\"?>";
    return x;
}

void AddArchiveParts(PdfDocument& document, const ArchiveInfo& info, bool withTitle) {
    PdfDictionary& d = document.info->dictionary;
    if (withTitle) d.SetRaw("Title", info.titleEntry);
    d.SetLiteral("Producer", ProducerText());
    d.SetLiteral("CreationDate", info.pdfDate);
    d.SetLiteral("ModDate", info.pdfDate);

    PdfObject& intent = document.NewObject(document.catalog);
    document.catalog->dictionary.AddReference("OutputIntents", intent.number);
    PdfObject& profile = document.NewObject(&intent);
    intent.dictionary.SetName("Type", "OutputIntent");
    intent.dictionary.SetName("S", "GTS_PDFA1");
    intent.dictionary.SetLiteral("OutputConditionIdentifier", kOutputCondition);
    intent.dictionary.SetLiteral("RegistryName", "http://www.color.org");
    intent.dictionary.SetLiteral("Info", kOutputCondition);
    intent.dictionary.SetReference("DestOutputProfile", profile.number);
    profile.dictionary.SetInteger("N", 3);
    const std::span<const std::uint8_t> icc = SrgbIccProfile();
    profile.streamBytes.assign(icc.begin(), icc.end());
    document.metadata->streamText = XmpPacket(info);
}

std::string TrailerId(const PdfDocument& document) {
    static std::atomic<std::uint64_t> serial{0};
    std::string seed = document.fileName;
    seed += '\0' + std::to_string(document.options.unixNs) + '\0' + std::to_string(::getpid()) +
            '\0' + std::to_string(document.runningOffset) + '\0' +
            std::to_string(serial.fetch_add(1));
    const std::uint64_t a = platform::Fnv1a64(seed);
    const std::uint64_t b = platform::Fnv1a64(seed + std::to_string(a));
    char hex[33];
    std::snprintf(hex, sizeof hex, "%016llX%016llX", static_cast<unsigned long long>(a),
                  static_cast<unsigned long long>(b));
    // Both parts are the same for a file written once (no later update).
    return std::string("/ID [<") + hex + "><" + hex + ">]";
}

}  // namespace kovran::imaging::pdf
