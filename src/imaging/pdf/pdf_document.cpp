// Opening and closing a document: the header at once, everything else as
// an object tree in memory until the close writes it, with the
// cross-reference table and the trailer, in one pass.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "api/settings.h"
#include "imaging/pdf/pdf_archive.h"
#include "imaging/pdf/pdf_document.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::imaging::pdf {

namespace {

// "%PDF-1.4", CR, "%" and four bytes above 127 (so that transfer programs
// treat the file as binary), CR LF.
constexpr std::string_view kHeader = "%PDF-1.4\r%\xE2\xE3\xCF\xD3\r\n";

void Write(PdfDocument& d, std::string_view bytes) {
    d.runningOffset += static_cast<std::int64_t>(bytes.size());
    if (d.writeFailed) return;
    if (!platform::WriteAllBytes(d.file.get(), bytes)) {
        d.writeFailed = true;
        d.writeError = platform::WinErrorFromErrno(errno);
    }
}

void WriteTree(PdfDocument& d, PdfObject& object) {
    object.offset = d.runningOffset;
    Write(d, SerializeObjectHead(object));
    Write(d, ObjectStreamData(object));
    Write(d, SerializeObjectTail(object));
    for (PdfObject* child : object.children) WriteTree(d, *child);
}

void WriteXrefAndTrailer(PdfDocument& d) {
    d.xrefOffset = d.runningOffset;
    const int size = d.nextObjectNumber;
    std::string out = "xref\r\n0 " + std::to_string(size) + "\r\n";
    out += "0000000000 65535 f\r\n";
    char entry[32];
    for (const auto& object : d.objects) {
        std::snprintf(entry, sizeof entry, "%010lld %05d n\r\n",
                      static_cast<long long>(object->offset), 0);
        out += entry;
    }
    out += "trailer\r\n<<\r\n";
    out += "/Size " + std::to_string(size) + "\r\n";
    out += "/Root " + std::to_string(d.catalog->number) + " 0 R\r\n";
    out += "/Info " + std::to_string(d.info->number) + " 0 R\r\n";
    if (d.options.archive) out += TrailerId(d) + "\r\n";
    out += ">>\r\nstartxref\r\n" + std::to_string(d.xrefOffset) + "\r\n%%EOF\r\n";
    Write(d, out);
}

// The PDF file's own name after its last '\' or '/'.
std::string BaseName(const std::string& fileName) {
    const std::size_t cut = fileName.find_last_of("\\/");
    return cut == std::string::npos ? fileName : fileName.substr(cut + 1);
}

}  // namespace

PdfObject& PdfDocument::NewObject(PdfObject* parent) {
    objects.push_back(std::make_unique<PdfObject>(nextObjectNumber++));
    PdfObject& object = *objects.back();
    if (parent != nullptr) parent->children.push_back(&object);
    return object;
}

void PdfDocumentDeleter::operator()(PdfDocument* document) const {
    std::default_delete<PdfDocument>{}(document);
}

PdfOptions OptionsFromSettings() {
    const ScanSettings& s = Settings().scan;
    PdfOptions o;
    o.pdfA = s.pdfA > 0;
    o.title = s.pdfTitle == 1;
    o.archive = o.pdfA && s.pdfAFull > 0;
    const platform::Clock& clock = platform::CurrentClock();
    o.unixNs = clock.NowUnixNs();
    o.utcOffsetSeconds = clock.LocalOffsetSeconds(o.unixNs);
    return o;
}

const char* CreatorText(int pid) {
    switch (pid) {
        case 3:
        case 9:
            return "KovranMS - KVX-A cheque scanner";
        case 6:
        case 10:
            return "KovranMS - KVX-B cheque scanner";
        case 11:
            return "KovranMS - KVX-C cheque scanner";
        default:
            return "KovranMS - KVX cheque scanner";
    }
}

PdfDocumentPtr PdfOpen(const std::string& fileName, int pid) {
    return PdfOpen(fileName, pid, OptionsFromSettings());
}

PdfDocumentPtr PdfOpen(const std::string& fileName, int pid, const PdfOptions& options) {
    platform::UniqueFd fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        platform::SetLastSystemErrorFromErrno();
        return nullptr;
    }
    PdfDocumentPtr doc(new PdfDocument());
    PdfDocument& d = *doc;
    struct stat st {};
    d.regularFile = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
    d.file = std::move(fd);
    d.fileName = fileName;
    d.options = options;
    d.options.archive = options.archive && options.pdfA;
    Write(d, kHeader);
    if (d.writeFailed) {
        d.file = platform::UniqueFd();
        if (d.regularFile) ::unlink(fileName.c_str());
        platform::SetLastSystemError(d.writeError);
        return nullptr;
    }

    d.catalog = &d.NewObject(nullptr);
    d.catalog->dictionary.SetName("Type", "Catalog");
    d.pages = &d.NewObject(d.catalog);
    d.catalog->dictionary.SetReference("Pages", d.pages->number);
    if (d.options.pdfA) {
        d.metadata = &d.NewObject(d.catalog);
        d.metadata->dictionary.SetName("Type", "Metadata");
        d.metadata->dictionary.SetName("Subtype", "XML");
        d.metadata->streamText = PdfAIdentificationText();
        d.catalog->dictionary.SetReference("Metadata", d.metadata->number);
    }
    d.pages->dictionary.SetName("Type", "Pages");
    d.info = &d.NewObject(d.catalog);
    const bool withTitle = d.options.title && !fileName.empty();
    std::string title;
    std::string creator;
    if (withTitle) {
        title = BaseName(fileName);
        creator = CreatorText(pid);
        d.info->dictionary.SetLiteral("Title", title);
        d.info->dictionary.SetLiteral("Creator", creator);
    }
    if (d.options.archive)
        AddArchiveParts(d, MakeArchiveInfo(title, creator, d.options), withTitle);
    return doc;
}

PdfPage PdfNewPage(PdfDocument& document, const std::string& mediaBox) {
    PdfPage page;
    page.page = &document.NewObject(document.pages);
    page.content = &document.NewObject(page.page);
    page.content->contentStream = true;
    PdfDictionary& d = page.page->dictionary;
    d.SetReference("Contents", page.content->number);
    d.SetName("Type", "Page");
    d.SetRaw("MediaBox", mediaBox);
    d.SetReference("Parent", document.pages->number);
    // PDF/A readers insist on the resource dictionary a page must have,
    // even one without anything to draw.
    if (document.options.archive) d.Nested("Resources");
    document.pages->dictionary.AddReference("Kids", page.page->number);
    ++document.pageCount;
    int x0 = 0;
    int y0 = 0;
    if (std::sscanf(mediaBox.c_str(), "[%d %d %d %d]", &x0, &y0, &page.width, &page.height) != 4) {
        page.width = 0;
        page.height = 0;
    }
    return page;
}

bool PdfClose(PdfDocumentPtr document) {
    if (!document) return false;
    PdfDocument& d = *document;
    // Kids is a required entry: the archive form writes it even empty.
    if (d.options.archive && !d.pages->dictionary.Has("Kids"))
        d.pages->dictionary.SetRaw("Kids", "[]");
    d.pages->dictionary.SetInteger("Count", d.pageCount);
    WriteTree(d, *d.catalog);
    WriteXrefAndTrailer(d);
    if (!d.file.Close() && !d.writeFailed) {
        d.writeFailed = true;
        d.writeError = platform::WinErrorFromErrno(errno);
    }
    if (d.writeFailed) {
        // A file a reader would reject is worse than none.
        if (d.regularFile) ::unlink(d.fileName.c_str());
        platform::SetLastSystemError(d.writeError);
        return false;
    }
    return true;
}

}  // namespace kovran::imaging::pdf
