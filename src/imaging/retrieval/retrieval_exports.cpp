// Exports of image retrieval: images in memory, the two-call forms, the
// front-rear composite, the retrieval brightness and contrast, the blank
// page test and the image-quality hand-over.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "KovranMS.h"
#include "acquisition/images.h"
#include "api/frame.h"
#include "api/log.h"
#include "api/monitor.h"
#include "imaging/retrieval/blank_page.h"
#include "imaging/retrieval/export_support.h"
#include "imaging/retrieval/host_images.h"
#include "imaging/retrieval/retrieval.h"

using namespace kovran;
using namespace kovran::imaging::retrieval;
namespace output = kovran::imaging::output;

namespace kovran::imaging::retrieval {

void NoteRegion(const KVXRect* region) {
    if (region != nullptr && region->right > region->left && region->bottom > region->top)
        LogText("ROI not supported");
}

void NoteRegion(std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom) {
    const KVXRect r{left, top, right, bottom};
    NoteRegion(&r);
}

output::ImageRequest SplitRequest(int format, int rotation, int quality, int bitsPerPixel) {
    output::ImageRequest r = output::FromRequestWord(output::RequestWord(format, rotation), 0);
    r.quality = quality;
    r.bitsPerPixel = bitsPerPixel;
    return r;
}

}  // namespace kovran::imaging::retrieval

namespace {

// An image built for the host: handed out, its length stored.
KVXResult HandImage(Retrieved got, std::uint8_t** image, std::int32_t* length) {
    if (got.image.empty()) return got.result != KVX_OK ? got.result : KVX_ERR_GENERIC;
    const auto n = static_cast<std::int32_t>(got.image.size());
    *image = HandOut(std::move(got.image));
    if (*image == nullptr) {
        LogValue("Get elab image with invalid memory allocation", ENOMEM);
        return KVX_ERR_OUT_OF_MEMORY;
    }
    if (length != nullptr) *length = n;
    return KVX_OK;
}

const char* NotAvailable(int sideIndex) {
    static const char* const kTexts[] = {"R not available side", "F not available side",
                                         "B not available side"};
    return kTexts[sideIndex];
}

// The two calls: build and keep, then copy out and release.
std::int32_t TwoCall(const RetrieveCall& call, std::uint8_t* destination) {
    const std::optional<int> index = ResolveSide(call.side);
    if (!index) {
        LogPair("err - ", "ImgGet with invalid side");
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_INV_PARAMETER;
    }
    std::optional<Bytes>& kept = KeptImage(*index);
    if (destination == nullptr) {
        kept.reset();
        Retrieved got = Retrieve(call);
        if (got.image.empty()) {
            const KVXResult r = got.result != KVX_OK ? got.result : KVX_ERR_GENERIC;
            SetLastResult(r);
            // A warning is no length: a host that took it for one would
            // copy out an image of three bytes. No bytes, the reason in the
            // last result.
            return r < 0 ? r : 0;
        }
        kept = std::move(got.image);
        SetLastResult(KVX_OK);
        return static_cast<std::int32_t>(kept->size());
    }
    if (!kept) {
        // Nothing kept (no first call, or already copied out): nothing to copy.
        LogPair("err - ", NotAvailable(*index));
        SetLastResult(KVX_ERR_GENERIC);
        return KVX_ERR_GENERIC;
    }
    const auto n = static_cast<std::int32_t>(kept->size());
    std::memcpy(destination, kept->data(), kept->size());
    kept.reset();
    SetLastResult(KVX_OK);
    return n;
}

KVXResult SetAdjust(int sideIndex, int value, bool brightness, const char* sideText,
                    const char* valueText) {
    if (sideIndex != kRear && sideIndex != kFront) {
        LogPair("err - ", sideText);
        return KVX_ERR_INV_PARAMETER;
    }
    if (value < -100 || value > 100) {
        LogPair("err - ", valueText);
        return KVX_ERR_INV_PARAMETER;
    }
    ImageRecord& r = acquisition::Images().myImg[static_cast<std::size_t>(sideIndex)];
    (brightness ? r.brightness : r.contrast) = static_cast<std::int16_t>(value);
    return KVX_OK;
}

KVXResult Brightness(int sideIndex, int value) {
    return SetAdjust(sideIndex, value, true, "ElabImgBrightness - invalid side",
                     "ElabImgBrightness - invalid value");
}
KVXResult Contrast(int sideIndex, int value) {
    return SetAdjust(sideIndex, value, false, "ElabImgContrast - invalid side",
                     "ElabImgContrast - invalid value");
}

// Side codes 8 and 9 for the setters that take them.
int SetterSide(int code) {
    if (code == 8 || code == 9) return ResolveSide(code).value_or(-1);
    return code;
}

KVXResult IqaCheck(const char* front, const char* rear) {
    if (front == nullptr || rear == nullptr) {
        LogPair("err - ", "Invalid file name pointer");
        return KVX_ERR_INV_PARAMETER;
    }
    for (const auto& [name, text] : {std::pair{front, "error opening Front file"},
                                     std::pair{rear, "error opening Rear file"}}) {
        std::FILE* f = std::fopen(name, "rb");
        if (f == nullptr) {
            const int error = errno;
            LogTriple("err - ", text, name);
            LogValue("error", error);
            return KVX_ERR_READ;
        }
        std::fclose(f);
    }
    MonitorIqa(front, rear);
    return KVX_ERR_SW_UNSUPPORTED;
}

}  // namespace

extern "C" {

KVX_API uint8_t* KVXImgGet(int handle, int16_t side, const KVXRect* region, int16_t value,
                           int16_t request, int32_t* length) {
    return RunPointerExport(HandleExport("KVXImgGet", handle), [&](std::uint8_t** image) {
        NoteRegion(region);
        return HandImage(
            Retrieve({.side = side, .request = output::FromRequestWord(request, value)}), image,
            length);
    });
}

KVX_API int32_t KVXImgGet2(int handle, int16_t side, const KVXRect* region, int16_t value,
                           int16_t request, uint8_t* destination) {
    ExportInfo info = HandleExport("KVXImgGet2", handle);
    info.returns = Returns::Value;
    return RunExport(info, [&] {
        NoteRegion(region);
        return TwoCall({.side = side, .request = output::FromRequestWord(request, value)},
                       destination);
    });
}

KVX_API int32_t KVXImgGet3(int handle, int16_t side, int16_t optionA, int16_t optionB,
                           const KVXRect* region, int16_t quality, int16_t format, int16_t rotation,
                           int16_t dpi, int16_t bitsPerPixel, uint8_t* destination) {
    ExportInfo info = HandleExport("KVXImgGet3", handle, "KVXImgGet2");
    info.returns = Returns::Value;
    return RunExport(info, [&] {
        NoteRegion(region);
        return TwoCall({.side = side,
                        .request = SplitRequest(format, rotation, quality, bitsPerPixel),
                        .optionA = optionA,
                        .optionB = optionB,
                        .dpi = dpi},
                       destination);
    });
}

KVX_API uint8_t* KVXImgGetFR(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                             int16_t request, int32_t* length) {
    return RunPointerExport(HandleExport("KVXImgGetFR", handle), [&](std::uint8_t** image) {
        return HandImage(RetrieveComposite({.firstSide = firstSide,
                                            .secondSide = secondSide,
                                            .request = output::FromRequestWord(request, value)}),
                         image, length);
    });
}

KVX_API uint8_t* KVXImgGet3FR(int handle, int16_t firstSide, int16_t firstOptionA,
                              int16_t firstOptionB, int16_t secondSide, int16_t secondOptionA,
                              int16_t secondOptionB, int16_t quality, int16_t format,
                              int16_t rotation, int16_t dpi, int16_t bitsPerPixel,
                              int32_t* length) {
    return RunPointerExport(HandleExport("KVXImgGet3FR", handle), [&](std::uint8_t** image) {
        return HandImage(
            RetrieveComposite({.firstSide = firstSide,
                               .secondSide = secondSide,
                               .firstOptionA = firstOptionA,
                               .firstOptionB = firstOptionB,
                               .secondOptionA = secondOptionA,
                               .secondOptionB = secondOptionB,
                               .request = SplitRequest(format, rotation, quality, bitsPerPixel),
                               .dpi = dpi}),
            image, length);
    });
}

KVX_API KVXResult KVXImgGetFree(int /*handle*/, uint8_t* image) {
    // No device needed: an image stays releasable after the close.
    return RunExport({.name = "KVXImgGetFree", .tag = "KVXImgGetFree"}, [&] {
        if (image == nullptr || Release(image)) return KVXResult{KVX_OK};
        return KVXResult{KVX_ERR_INV_PARAMETER};
    });
}

KVX_API KVXResult KVXElabImgBrightness(int handle, KVXImgDescriptor* image, int16_t value) {
    return RunExport(HandleExport("KVXElabImgBrightness", handle),
                     [&] { return Brightness(DescriptorSide(image).value_or(-1), value); });
}

KVX_API KVXResult KVXElabImgContrast(int handle, KVXImgDescriptor* image, int16_t value) {
    return RunExport(HandleExport("KVXElabImgContrast", handle),
                     [&] { return Contrast(DescriptorSide(image).value_or(-1), value); });
}

KVX_API KVXResult KVXImgBright(int handle, int16_t side, int16_t value) {
    return RunExport(HandleExport("KVXImgBright", handle), [&] { return Brightness(side, value); });
}

KVX_API KVXResult KVXImgContr(int handle, int16_t side, int16_t value) {
    return RunExport(HandleExport("KVXImgContr", handle), [&] { return Contrast(side, value); });
}

KVX_API KVXResult KVXElabImgBright2(int handle, int16_t side, int16_t value) {
    return RunExport(HandleExport("KVXElabImgBright2", handle),
                     [&] { return Brightness(SetterSide(side), value); });
}

KVX_API KVXResult KVXElabImgContr2(int handle, int16_t side, int16_t value) {
    return RunExport(HandleExport("KVXElabImgContr2", handle),
                     [&] { return Contrast(SetterSide(side), value); });
}

KVX_API KVXResult KVXIsPageBlank(int handle, int16_t side, int16_t pixThreshold,
                                 int16_t darkLevel) {
    return RunExport(HandleExport("KVXIsPageBlank", handle),
                     [&] { return IsPageBlank(side, pixThreshold, darkLevel); });
}

KVX_API KVXResult KVXIQACheck(int handle, const char* frontFile, const char* rearFile) {
    return RunExport(HandleExport("KVXIQACheck", handle),
                     [&] { return IqaCheck(frontFile, rearFile); });
}

}  // extern "C"
