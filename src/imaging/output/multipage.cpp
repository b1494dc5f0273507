#include "imaging/output/multipage.h"

#include <unistd.h>

#include "api/library.h"
#include "api/log.h"
#include "imaging/codec/codec.h"
#include "imaging/output/file_write.h"
#include "imaging/output/image_request.h"
#include "imaging/pdf/pdf.h"

namespace kovran::imaging::output {

namespace {

constexpr int kDefaultQuality = 60;

struct MultiPageRecord {
    std::unique_ptr<codec::TiffPageWriter> tiff;
    std::string temporary;
    std::string fileName;
    // libtiff failed writing a page: its half-written directory stays in
    // the handle and would be flushed into the file at the close.
    bool writeFailed = false;
    int format = 0;

    ~MultiPageRecord() {
        tiff.reset();
        if (!temporary.empty()) ::unlink(temporary.c_str());
    }
};

MultiPageRecord& MultiPage() {
    return lib().Get<MultiPageRecord>();
}

bool TiffOpen() {
    const MultiPageRecord& m = MultiPage();
    return m.tiff != nullptr && m.tiff->IsOpen();
}

KVXResult Fail(const char* text, KVXResult result) {
    LogPair("err - ", text);
    return result;
}

void Forget(MultiPageRecord& m) {
    m.tiff.reset();
    if (!m.temporary.empty()) ::unlink(m.temporary.c_str());
    m.temporary.clear();
    m.fileName.clear();
    m.writeFailed = false;
}

}  // namespace

KVXResult MultiPageInit(const char* fileName, int format, int quality) {
    if (TiffOpen() || pdf::MultiPagePdfIsOpen()) return Fail("multipage pending", KVX_ERR_GENERIC);
    codec::EncodeOptions options;
    switch (format) {
        case kFormatTiffG3:
        case kFormatTiffG4:
        case kFormatTiffLzw:
        case kFormatTiff:
            break;
        case kFormatTiffJpeg:
            if (quality < 1 || quality > 100) {
                LogPair("war - ", "MultiPage - invalid quality value - forcing 60");
                quality = kDefaultQuality;
            }
            break;
        case kFormatPdfJpeg:
        case kFormatPdfTiff:
            if (fileName == nullptr) return Fail("no multipage file", KVX_ERR_GENERIC);
            return pdf::MultiPagePdfOpen(fileName, format, quality);
        default:
            return Fail("MultiPage - invalid encoding parameter", KVX_ERR_INV_PARAMETER);
    }
    options.format = static_cast<codec::Format>(format);
    options.quality = quality;
    if (fileName == nullptr) return Fail("no multipage file", KVX_ERR_GENERIC);
    MultiPageRecord& m = MultiPage();
    Forget(m);
    int error = 0;
    m.temporary = CreateTemporaryBeside(fileName, &error);
    if (m.temporary.empty()) {
        LogPair("err - ", "no multipage file");
        LogValue(fileName, error);
        return KVX_ERR_GENERIC;
    }
    try {
        m.tiff = std::make_unique<codec::TiffPageWriter>();
    } catch (const std::bad_alloc&) {
        Forget(m);
        return Fail("multipage - memory allocation failed", KVX_ERR_OUT_OF_MEMORY);
    }
    std::string reason;
    if (!m.tiff->Open(m.temporary, options, &reason)) {
        Forget(m);
        return Fail("no multipage file", KVX_ERR_GENERIC);
    }
    m.fileName = fileName;
    m.format = format;
    return KVX_OK;
}

KVXResult MultiPageAdd(const char* imageFile) {
    if (pdf::MultiPagePdfIsOpen()) return pdf::MultiPagePdfAdd(imageFile);
    if (!TiffOpen())
        return Fail("Multipage - missing valid initialization", KVX_ERR_NOT_INITIALIZED);
    if (imageFile == nullptr) return Fail("loading multipage file", KVX_ERR_GENERIC);
    std::string reason;
    std::optional<codec::Picture> picture = codec::DecodeFile(imageFile, &reason);
    if (!picture || picture->pixels.Empty()) {
        LogPair("err - ", "loading multipage file");
        if (!reason.empty()) LogText(reason);
        return KVX_ERR_GENERIC;
    }
    MultiPageRecord& m = MultiPage();
    if (m.writeFailed) return Fail("encoding multipage file", KVX_ERR_GENERIC);
    // A bilevel page for JPEG compression is refused before libtiff sees
    // it; any other failure happened inside the file.
    const bool refused = m.format == kFormatTiffJpeg && picture->depth == codec::Depth::Bilevel;
    if (!m.tiff->AppendPage(*picture, &reason)) {
        LogPair("err - ", "encoding multipage file");
        if (!reason.empty()) LogText(reason);
        if (!refused) m.writeFailed = true;
        return KVX_ERR_GENERIC;
    }
    return KVX_OK;
}

KVXResult MultiPageClose() {
    if (pdf::MultiPagePdfIsOpen()) return pdf::MultiPagePdfClose();
    if (!TiffOpen()) return Fail("MultiPage - missing initialization", KVX_ERR_NOT_INITIALIZED);
    MultiPageRecord& m = MultiPage();
    const int pages = m.tiff->Pages();
    if (m.writeFailed) {
        // The file holds a page the host was told failed, perhaps cut: it
        // never takes the name.
        Forget(m);
        return Fail("encoding multipage file", KVX_ERR_WRITE);
    }
    m.tiff->Close();
    m.tiff.reset();
    // A TIFF without a page is no image file: nothing takes the name.
    if (pages == 0) {
        Forget(m);
        return KVX_OK;
    }
    int error = 0;
    const bool moved = CommitTemporary(m.temporary, m.fileName, &error);
    m.temporary.clear();
    const std::string name = m.fileName;
    Forget(m);
    if (!moved) {
        LogPair("err - ", "no multipage file");
        LogValue(name.c_str(), error);
        return KVX_ERR_WRITE;
    }
    return KVX_OK;
}

int MultiPagePages() {
    return TiffOpen() ? MultiPage().tiff->Pages() : 0;
}

}  // namespace kovran::imaging::output
