// The PDF writer: documents of one scanned image per page, built as a tree
// of objects in memory and written out when closed, and the library-wide
// multipage PDF the multipage functions route to.
#pragma once

#include <memory>
#include <string>

#include "KovranMS.h"

namespace kovran::imaging::pdf {

struct PdfDocument;
struct PdfPage;

struct PdfDocumentDeleter {
    void operator()(PdfDocument* document) const;
};
using PdfDocumentPtr = std::unique_ptr<PdfDocument, PdfDocumentDeleter>;

// Creates or truncates the file and writes the header; null when the file
// cannot be created (the caller logs it with the system error).
PdfDocumentPtr PdfOpen(const std::string& fileName, int pid);

// A page sized from the image and the image placed on it: 1 on success,
// -1 on failure with the library error set. Only the low four bits of
// format count: 0 JPEG; 1, 2, 3, 5, 6 TIFF.
int PdfAddImagePage(PdfDocument& document, const char* imageFile, int format);

// Writes the objects, the cross-reference table and the trailer, closes the
// file and releases the document. A null document does nothing.
void PdfClose(PdfDocumentPtr document);

// The multipage PDF (one at a time, library-wide). Each returns a KVX
// result value and sets the library error to it.
KVXResult MultiPagePdfOpen(const std::string& fileName, int format, int parameter);
KVXResult MultiPagePdfAdd(const char* imageFile);
KVXResult MultiPagePdfClose();
bool MultiPagePdfIsOpen();

// Rewrites the named image file in the given image format (0 to 6).
bool ConvertiImg(const std::string& fileName, int format, int parameter);

}  // namespace kovran::imaging::pdf
