// Exports of the two image descriptors: creating and freeing the images
// through them, the scan that fills them, and the images of their sides.
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/bstr_out.h"
#include "api/frame.h"
#include "api/log.h"
#include "imaging/output/image_request.h"
#include "imaging/retrieval/export_support.h"
#include "imaging/retrieval/host_images.h"
#include "imaging/retrieval/retrieval.h"

using namespace kovran;
using namespace kovran::imaging::retrieval;
namespace output = kovran::imaging::output;

namespace {

constexpr int kPreviewQuality = 4;
constexpr std::int16_t kScanTextBytes = 4096;

// The sizes of the last scan, at the resolution each side was created with.
void FillDescriptors() {
    for (int side : {kRear, kFront}) {
        const ImageRecord& r = acquisition::Images().myImg[static_cast<std::size_t>(side)];
        KVXImgDescriptor* d = Descriptor(side);
        d->width = r.width;
        d->height = r.Height;
        d->paddedWidth = r.width + 7;
    }
}

KVXResult Scan(OcrZoneList* zones, BSTR* codeline, BSTR* confidence) {
    std::string c(kScanTextBytes, '\0');
    std::string k(kScanTextBytes, '\0');
    const KVXResult r = acquisition::ImgScan(
        zones, {.codeline = c.data(), .confidence = k.data(), .length = kScanTextBytes});
    if (r >= 0) FillDescriptors();
    const bool failed = r < 0;
    const int n = failed ? 0 : static_cast<int>(std::strlen(k.c_str()));
    if (codeline != nullptr && StoreBstr(codeline, failed ? "" : c.c_str(), n) != KVX_OK) {
        LogText("codeline string allocation failed");
        return KVX_ERR_OUT_OF_MEMORY;
    }
    if (confidence != nullptr && StoreBstr(confidence, failed ? "" : k.c_str(), n) != KVX_OK) {
        LogText("confidence string allocation failed");
        return KVX_ERR_OUT_OF_MEMORY;
    }
    return r;
}

// Side codes 0, 1, 8 and 9 of the descriptor functions.
std::optional<int> DescriptorSideCode(int code) {
    if (code != 0 && code != 1 && code != 8 && code != 9) return std::nullopt;
    const std::optional<int> index = ResolveSide(code);
    if (!index || *index == kBacklight) return std::nullopt;
    return index;
}

}  // namespace

extern "C" {

KVX_API KVXImgDescriptor* KVXCreateImgStruct(int handle, int16_t dpiFront, int16_t dpiRear) {
    KVXImgDescriptor* rear = nullptr;
    RunExport(HandleExport("KVXCreateImgStruct", handle), [&] {
        const KVXResult r = acquisition::ImgCreate(dpiFront, dpiRear, 0);
        if (r != KVX_OK) return r;
        ClearDescriptors();
        rear = Descriptor(kRear);
        return r;
    });
    return rear;
}

KVX_API KVXResult KVXFreeImgStruct(int handle, KVXImgDescriptor* image) {
    return RunExport(HandleExport("KVXFreeImgStruct", handle), [&] {
        if (image != Descriptor(kRear)) {
            LogPair("err - ", "KVXFreeImgStruct with invalid image handle ");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        ClearDescriptors();
        return acquisition::ImgFree();
    });
}

KVX_API KVXResult KVXRead(int handle, OcrZoneList* zones, KVXImgDescriptor* image, BSTR* codeline,
                          BSTR* confidence) {
    return RunExport(HandleExport("KVXRead", handle), [&] {
        if (image != nullptr && image != Descriptor(kRear)) {
            LogPair("err - ", "KVXRead with invalid image");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        return Scan(zones, codeline, confidence);
    });
}

KVX_API uint8_t* KVXGetElabImgStruct(int handle, KVXImgDescriptor* image, const KVXRect* region,
                                     int16_t value, int16_t request, int32_t* length) {
    return RunPointerExport(HandleExport("KVXGetElabImgStruct", handle), [&](std::uint8_t** out) {
        const std::optional<int> side = DescriptorSide(image);
        if (!side) {
            LogPair("err - ", image == nullptr ? "invalid handle 2" : "invalid handle (BB)");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        NoteRegion(region);
        Retrieved got =
            Retrieve({.side = *side, .request = output::FromRequestWord(request, value)});
        if (got.image.empty()) return got.result != KVX_OK ? got.result : KVX_ERR_GENERIC;
        const auto n = static_cast<std::int32_t>(got.image.size());
        *out = HandOut(std::move(got.image));
        if (*out == nullptr) return KVXResult{KVX_ERR_OUT_OF_MEMORY};
        if (length != nullptr) *length = n;
        return KVXResult{KVX_OK};
    });
}

KVX_API uint8_t* KVXGetElabImg(KVXImgDescriptor* image) {
    return RunPointerExport(
        {.name = "KVXGetElabImg", .tag = "KVXGetElabImg", .guard = Guard::CurrentHandle},
        [&](std::uint8_t** out) {
            RgbPixels got = RetrieveRgb(DescriptorSide(image).value_or(-1));
            if (got.result != KVX_OK) return got.result;
            *out = HandOut(std::move(got.pixels));
            if (*out == nullptr) {
                LogValue("malloc with error in GetElabImg II", ENOMEM);
                return KVXResult{KVX_ERR_OUT_OF_MEMORY};
            }
            return KVXResult{KVX_OK};
        });
}

KVX_API uint8_t* KVXGetElabImg2(int handle, int16_t side, int16_t* height, int16_t* width) {
    return RunPointerExport(HandleExport("KVXGetElabImg2", handle), [&](std::uint8_t** out) {
        const std::optional<int> index = DescriptorSideCode(side);
        if (!index) {
            LogPair("err - ", "GetElabImg - invalid image side");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        Retrieved got = Retrieve(
            {.side = *index, .request = SplitRequest(output::kFormatJpeg, 0, kPreviewQuality, 0)});
        if (got.image.empty()) return got.result != KVX_OK ? got.result : KVX_ERR_GENERIC;
        *out = HandOut(std::move(got.image));
        if (*out == nullptr) return KVXResult{KVX_ERR_OUT_OF_MEMORY};
        KeepInDescriptor(*index, *out);
        FillDescriptors();
        const KVXImgDescriptor* d = Descriptor(*index);
        if (height != nullptr) *height = static_cast<std::int16_t>(d->height);
        if (width != nullptr) *width = static_cast<std::int16_t>(d->width);
        return KVXResult{KVX_OK};
    });
}

KVX_API KVXResult KVXFreeElabImgStruct(int /*handle*/, void* image) {
    // No device needed: an image stays releasable after the close.
    return RunExport({.name = "KVXFreeElabImgStruct", .tag = "KVXFreeElabImgStruct"}, [&] {
        if (image == nullptr || DescriptorSide(image)) return KVXResult{KVX_OK};
        return Release(image) ? KVXResult{KVX_OK} : KVXResult{KVX_ERR_INV_PARAMETER};
    });
}

KVX_API KVXResult KVXCreateImgStr2(int handle, int16_t dpiFront, int16_t dpiRear) {
    return RunExport(HandleExport("KVXCreateImgStr2", handle),
                     [&] { return acquisition::ImgCreate(dpiFront, dpiRear, 0); });
}

KVX_API KVXResult KVXFreeImgStr2(int handle, int16_t side) {
    return RunExport(HandleExport("KVXFreeImgStr2", handle), [&] {
        const std::optional<int> index = DescriptorSideCode(side);
        if (!index) {
            LogPair("err - ", "KVXFreeImgStr2 with invalid side ");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        KeepInDescriptor(*index, nullptr);
        return KVXResult{KVX_OK};
    });
}

KVX_API KVXResult KVXRoiImgStr2(int handle, int16_t left, int16_t top, int16_t right,
                                int16_t bottom) {
    return RunExport(HandleExport("KVXRoiImgStr2", handle), [&] {
        StoredRegion() = {left, top, right, bottom};
        return KVXResult{KVX_OK};
    });
}

}  // extern "C"
