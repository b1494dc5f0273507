// Stands in for the PDF writer until it is built: every PDF operation
// fails, so saving in the PDF formats reports a failure and writes nothing.
#include "imaging/pdf/pdf.h"

namespace kovran::imaging::pdf {

struct PdfDocument {};

void PdfDocumentDeleter::operator()(PdfDocument* document) const {
    std::default_delete<PdfDocument>{}(document);
}

PdfDocumentPtr PdfOpen(const std::string&, int) {
    return nullptr;
}

int PdfAddImagePage(PdfDocument&, const char*, int) {
    return -1;
}

void PdfClose(PdfDocumentPtr) {}

KVXResult MultiPagePdfOpen(const std::string&, int, int) {
    return KVX_ERR_GENERIC;
}
KVXResult MultiPagePdfAdd(const char*) {
    return KVX_ERR_GENERIC;
}
KVXResult MultiPagePdfClose() {
    return KVX_ERR_NOT_INITIALIZED;
}
bool MultiPagePdfIsOpen() {
    return false;
}

bool ConvertiImg(const std::string&, int, int) {
    return false;
}

}  // namespace kovran::imaging::pdf
