#include "imaging/output/save.h"

#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "acquisition/images.h"
#include "api/config_dir.h"
#include "api/log.h"
#include "device/device_record.h"
#include "imaging/output/file_write.h"
#include "imaging/pdf/pdf.h"
#include "platform/file_descriptor.h"

namespace kovran::imaging::output {

namespace {

struct Texts {
    const char* nullName;
    const char* openFailed;
    const char* shortWrite;
    const char* pdfOpen;
    const char* pdfPage;
};

constexpr Texts kSideTexts{"SaveImgStruct with null pointer",
                           "SaveImgStruct with invalid file name or path",
                           "SaveImgStruct with invalid nBytes written",
                           "could not open pdf to write to (A)", "error adding page"};
constexpr Texts kCompositeTexts{"save with null filename", "SaveImgStruct with invalid handle",
                                "SaveImgStruct with invalid nBytes written",
                                "could not open pdf to write to (B)", "error adding page A"};

// The image format of a PDF page: JPEG for 7; for 9 group 3 at 1 bit and
// LZW otherwise.
int PageFormat(const ImageRequest& request) {
    if (request.format == kFormatPdfJpeg) return kFormatJpeg;
    return request.bitsPerPixel == 1 ? kFormatTiffG3 : kFormatTiffLzw;
}

// Removes a file when it goes out of scope, unless released.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& Path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

// A fresh temporary image file in the configuration directory: hosts that
// share the directory never overwrite each other's page image.
std::string PageImageName(int format) {
    std::string pattern =
        Config().dir + (format == kFormatJpeg ? "/tmp_XXXXXX.jpg" : "/tmp_XXXXXX.tif");
    platform::UniqueFd fd(::mkstemps(pattern.data(), 4));
    if (!fd.valid()) return {};
    return pattern;
}

KVXResult WriteBytes(const std::string& name, const retrieval::Bytes& bytes, const Texts& texts) {
    int error = 0;
    switch (WriteFileAtomically(name, bytes, &error)) {
        case WriteFailure::None:
            return KVX_OK;
        case WriteFailure::Open:
            LogPair("err - ", texts.openFailed);
            LogValue(name.c_str(), error);
            return KVX_ERR_WRITE;
        case WriteFailure::Write:
            LogPair("err - ", texts.shortWrite);
            LogValue(name.c_str(), error);
            return KVX_ERR_WRITE;
    }
    return KVX_ERR_WRITE;
}

// The PDF of one page made from the image file, under a temporary name
// renamed over the host's name when complete.
KVXResult WritePdf(const std::string& name, const std::string& image, int format,
                   const Texts& texts) {
    int error = 0;
    const std::string temporary = CreateTemporaryBeside(name, &error);
    if (temporary.empty()) {
        LogPair("err - ", texts.pdfOpen);
        LogValue(name.c_str(), error);
        return KVX_ERR_GENERIC;
    }
    TemporaryFile pdfFile(temporary);
    pdf::PdfDocumentPtr document = pdf::PdfOpen(temporary, device::Identity().pid);
    if (!document) {
        LogPair("err - ", texts.pdfOpen);
        LogValue(name.c_str(), errno);
        return KVX_ERR_GENERIC;
    }
    if (pdf::PdfAddImagePage(*document, image.c_str(), format) != 1) {
        LogPair("err - ", texts.pdfPage);
        pdf::PdfClose(std::move(document));
        return KVX_ERR_GENERIC;
    }
    if (!pdf::PdfClose(std::move(document))) {
        // The writer has removed the cut file already.
        LogPair("err - ", texts.shortWrite);
        LogValue(name.c_str(), errno);
        return KVX_ERR_WRITE;
    }
    if (!CommitTemporary(temporary, name, &error)) {
        LogPair("err - ", texts.openFailed);
        LogValue(name.c_str(), error);
        return KVX_ERR_WRITE;
    }
    pdfFile.Release();
    return KVX_OK;
}

template <class Call, class RetrieveFn>
KVXResult Save(Call call, const char* fileName, const Texts& texts, RetrieveFn retrieve) {
    if (fileName == nullptr) {
        LogPair("err - ", texts.nullName);
        return KVX_ERR_INV_PARAMETER;
    }
    call.destination = Destination::File;
    if (const KVXResult v = ValidateRequest(call.request, Destination::File); v != KVX_OK) return v;
    const bool pdfFormat = IsPdfFormat(call.request.format);
    if (pdfFormat) {
        call.request.format = PageFormat(call.request);
        if (call.request.format != kFormatJpeg) call.request.quality = 0;
    }
    const retrieval::Retrieved got = retrieve(call);
    if (got.image.empty()) {
        if (got.result != KVX_OK) return got.result;
        LogPair("err - ", "No image present");
        return KVX_ERR_INV_PARAMETER;
    }
    if (!pdfFormat) return WriteBytes(fileName, got.image, texts);

    const std::string imageName = PageImageName(call.request.format);
    if (imageName.empty()) {
        LogPair("err - ", texts.openFailed);
        LogValue(Config().dir.c_str(), errno);
        return KVX_ERR_WRITE;
    }
    TemporaryFile image(imageName);
    if (const KVXResult w = WriteBytes(imageName, got.image, texts); w != KVX_OK) return w;
    return WritePdf(fileName, imageName, call.request.format, texts);
}

}  // namespace

KVXResult SaveSide(const retrieval::RetrieveCall& call, const char* fileName,
                   const SaveTexts& texts) {
    if (fileName == nullptr) {
        LogPair("err - ", kSideTexts.nullName);
        return KVX_ERR_INV_PARAMETER;
    }
    if (!retrieval::ResolveSide(call.side)) {
        LogPair("err - ", texts.invalidSide);
        return KVX_ERR_INV_PARAMETER;
    }
    const int index = *retrieval::ResolveSide(call.side);
    const ImageRecord& side = acquisition::Images().myImg[static_cast<std::size_t>(index)];
    if (call.request.bitsPerPixel == 24 && side.data != nullptr && side.bytesPerPixel == 1) {
        LogPair("err - ", "ImgSave - invalid rgb image request");
        return KVX_ERR_INV_PARAMETER;
    }
    return Save(call, fileName, kSideTexts,
                [](const retrieval::RetrieveCall& c) { return retrieval::Retrieve(c); });
}

KVXResult SaveComposite(const retrieval::CompositeCall& call, const char* fileName) {
    return Save(call, fileName, kCompositeTexts,
                [](const retrieval::CompositeCall& c) { return retrieval::RetrieveComposite(c); });
}

}  // namespace kovran::imaging::output
