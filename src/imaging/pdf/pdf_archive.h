// The PDF/A parts of a document. By default the identification alone, as
// five lines of RDF (what the host applications of this library have always
// received); with "pdfAFull" the complete PDF/A-1b form: an XMP packet that
// mirrors the Info dictionary, an sRGB output intent with its ICC profile,
// dates, and the trailer ID.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kovran::imaging::pdf {

struct PdfDocument;
struct PdfOptions;

// The identification lines, joined by CR LF, without a line end after the
// last.
std::string PdfAIdentificationText();

// Info texts of the archive form. A title that is not plain printable ASCII
// becomes a UTF-16 string (as PDF text strings carry Unicode); controls
// become U+FFFD in the Info entry and the XMP alike.
struct ArchiveInfo {
    std::string titleEntry;  // the written value: "(...)" or "<FEFF...>"
    std::string titleXml;    // UTF-8, XML-escaped
    std::string creatorXml;
    std::string pdfDate;  // "D:YYYYMMDDHHmmSS+HH'mm'"
    std::string xmpDate;  // "YYYY-MM-DDTHH:mm:SS+HH:mm"
};
ArchiveInfo MakeArchiveInfo(const std::string& title, const std::string& creator,
                            const PdfOptions& options);

// "KovranMS 2.2.5.5": the Producer of the archive form.
std::string ProducerText();

// The complete XMP packet (with titleXml and creatorXml left out when
// empty).
std::string XmpPacket(const ArchiveInfo& info);

// Adds the archive form's Info entries, OutputIntent and ICC profile to a
// document just opened.
void AddArchiveParts(PdfDocument& document, const ArchiveInfo& info, bool withTitle);

// "/ID [<...><...>]" for the trailer: 16 bytes from the file name, the
// creation time, the process and the document's size.
std::string TrailerId(const PdfDocument& document);

// The sRGB profile (ICC version 2) from the icc-profiles-free package,
// built into the library.
std::span<const std::uint8_t> SrgbIccProfile();

}  // namespace kovran::imaging::pdf
