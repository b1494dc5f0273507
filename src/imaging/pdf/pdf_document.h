// The writer's document model behind pdf.h: the document with its object
// tree, pages, and the operations that build a page (PdfNewPage,
// PdfPlaceImage). Used by the writer's own files and by tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/pdf/pdf.h"
#include "imaging/pdf/pdf_object.h"
#include "platform/file_descriptor.h"

namespace kovran::imaging::pdf {

// What a document carries beside its pages, fixed when it is opened.
struct PdfOptions {
    bool pdfA = false;        // the PDF/A identification metadata
    bool title = false;       // Info "Title" and "Creator"
    bool archive = false;     // with pdfA: the complete PDF/A-1b form
    std::int64_t unixNs = 0;  // creation time (archive form)
    std::int64_t utcOffsetSeconds = 0;
};

// The options the ini settings ask for now ("pdfA", "pdfTitle",
// "pdfAFull") with the installed clock's time.
PdfOptions OptionsFromSettings();

struct PdfDocument {
    platform::UniqueFd file;
    std::string fileName;
    std::int64_t runningOffset = 0;
    int nextObjectNumber = 1;
    int pageCount = 0;
    PdfOptions options;
    PdfObject* catalog = nullptr;
    PdfObject* pages = nullptr;
    PdfObject* metadata = nullptr;
    PdfObject* info = nullptr;
    // Every numbered object in creation order (= number order).
    std::vector<std::unique_ptr<PdfObject>> objects;
    std::int64_t xrefOffset = 0;
    // Only a regular file is removed when writing fails (never a device
    // such as /dev/full that a host may name).
    bool regularFile = false;
    // The first write that failed; the close then removes the file.
    bool writeFailed = false;
    int writeError = 0;

    // A new object numbered from the counter, appended to parent's children
    // (none for the root).
    PdfObject& NewObject(PdfObject* parent);
};

struct PdfPage {
    PdfObject* page = nullptr;
    PdfObject* content = nullptr;
    int width = 0;  // points, from the MediaBox
    int height = 0;
};

enum class PdfImageKind { Jpeg, Tiff };

// Box of a placed image in points, from the page's top left corner.
struct PdfBox {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
};

PdfDocumentPtr PdfOpen(const std::string& fileName, int pid, const PdfOptions& options);

// The page and its content stream, appended to the Pages "Kids".
PdfPage PdfNewPage(PdfDocument& document, const std::string& mediaBox);

// Embeds the image file and draws it into the box. False, with nothing
// added to the document, when the file cannot be embedded.
bool PdfPlaceImage(PdfDocument& document, PdfPage& page, const PdfBox& box,
                   const std::string& imageFile, PdfImageKind kind);

// The Creator text of a device family.
const char* CreatorText(int pid);

// The image's name in the page resources: every '\', ':', '/' and blank
// made '_', then made a valid name token (see EscapeName); the archive form
// keeps at most the last 127 bytes that PDF/A allows a name.
std::string ImageResourceName(const std::string& imageFile, bool archive);

// "[0 0 %03d %03d]" for an image of width x height pixels at dpi, capped at
// A4 in points.
std::string MediaBoxFor(int width, int height, int dpi);

}  // namespace kovran::imaging::pdf
