// The library's one multipage PDF: opened by the multipage initialise with
// format 7 or 9, one page per added image file (converted first to the
// page image format), written out by the close.
#include <memory>
#include <new>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "device/device_record.h"
#include "imaging/pdf/pdf_document.h"
#include "platform/sys_error.h"

namespace kovran::imaging::pdf {

namespace {

constexpr int kMultiPageFormatJpeg = 7;
constexpr int kMultiPageFormatTiff = 9;
constexpr int kPageJpeg = 0;
constexpr int kPageTiffG3 = 1;
constexpr int kPageTiffLzw = 3;
constexpr int kDefaultQuality = 60;
constexpr const char* kEmptyA4 = "[0 0 594 841]";

struct MultiPagePdf {
    PdfDocumentPtr document;
    int pageFormat = kPageJpeg;
    int parameter = 0;
    int pageCount = 0;
};

struct MultiPagePdfRecord {
    std::unique_ptr<MultiPagePdf> state;
};

MultiPagePdfRecord& Record() {
    return lib().Get<MultiPagePdfRecord>();
}

KVXResult Finish(KVXResult result) {
    SetLastResult(result);
    return result;
}

}  // namespace

bool MultiPagePdfIsOpen() {
    return Record().state != nullptr;
}

KVXResult MultiPagePdfOpen(const std::string& fileName, int format, int parameter) {
    MultiPagePdfRecord& record = Record();
    if (record.state) {
        LogText("multipage pending");
        return Finish(KVX_ERR_GENERIC);
    }
    std::unique_ptr<MultiPagePdf> state;
    try {
        state = std::make_unique<MultiPagePdf>();
    } catch (const std::bad_alloc&) {
        LogText("multipage - memory allocation failed");
        return Finish(KVX_ERR_OUT_OF_MEMORY);
    }
    if (format == kMultiPageFormatJpeg) {
        state->pageFormat = kPageJpeg;
        if (parameter < 1 || parameter > 100) {
            LogText("MultiPage - invalid quality value - forcing 60");
            parameter = kDefaultQuality;
        }
        state->parameter = parameter;
    } else if (format == kMultiPageFormatTiff) {
        if (parameter == 0 || parameter == 8 || parameter == 24) {
            state->pageFormat = kPageTiffLzw;
        } else {
            if (parameter != 1) LogText("MultiPage - invalid parameter for TIFF - forcing 1");
            state->pageFormat = kPageTiffG3;
            parameter = 1;
        }
        state->parameter = parameter;
    } else {
        LogText("MultiPage - invalid encoding parameter");
        return Finish(KVX_ERR_INV_PARAMETER);
    }
    state->document = PdfOpen(fileName, device::Identity().pid);
    if (!state->document) {
        const int err = platform::LastSystemError();
        LogText(fileName);
        LogValue("could not open pdf to write to (C)", err);
        return Finish(KVX_ERR_GENERIC);
    }
    record.state = std::move(state);
    return Finish(KVX_OK);
}

KVXResult MultiPagePdfAdd(const char* imageFile) {
    MultiPagePdf* state = Record().state.get();
    if (state == nullptr || !state->document) {
        LogText("MultiPage - missing initialization");
        return Finish(KVX_ERR_NOT_INITIALIZED);
    }
    if (imageFile == nullptr || !ConvertiImg(imageFile, state->pageFormat, state->parameter)) {
        LogText("error converting to JPEG");
        PdfNewPage(*state->document, kEmptyA4);
        return Finish(KVX_ERR_GENERIC);
    }
    const int added = PdfAddImagePage(*state->document, imageFile, state->pageFormat);
    if (added > 0) {
        state->pageCount += added;
        return Finish(KVX_OK);
    }
    const std::int32_t error = LastResult();
    return Finish(error < 0 ? static_cast<KVXResult>(error) : KVX_ERR_GENERIC);
}

KVXResult MultiPagePdfClose() {
    MultiPagePdfRecord& record = Record();
    if (!record.state || !record.state->document) {
        LogText("MultiPage - missing initialization");
        return Finish(KVX_ERR_NOT_INITIALIZED);
    }
    std::unique_ptr<MultiPagePdf> state = std::move(record.state);
    const std::string fileName = state->document->fileName;
    if (!PdfClose(std::move(state->document))) {
        const int err = platform::LastSystemError();
        LogText(fileName);
        LogValue("could not write pdf", err);
        return Finish(KVX_ERR_WRITE);
    }
    return Finish(KVX_OK);
}

}  // namespace kovran::imaging::pdf
