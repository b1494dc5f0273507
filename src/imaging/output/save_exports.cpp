// Exports of saving: one side, the front-rear composite, the descriptor
// forms, and the multipage file.
#include "KovranMS.h"
#include "api/frame.h"
#include "api/log.h"
#include "imaging/output/multipage.h"
#include "imaging/output/save.h"
#include "imaging/retrieval/export_support.h"
#include "imaging/retrieval/host_images.h"

using namespace kovran;
using namespace kovran::imaging::output;
using kovran::imaging::retrieval::CompositeCall;
using kovran::imaging::retrieval::DescriptorSide;
using kovran::imaging::retrieval::HandleExport;
using kovran::imaging::retrieval::NoteRegion;
using kovran::imaging::retrieval::RetrieveCall;
using kovran::imaging::retrieval::SplitRequest;

namespace {

bool DescriptorSideCode(int code) {
    return code == 0 || code == 1 || code == 8 || code == 9;
}

// The multipage file lives apart from the device: it can be completed
// after the close.
ExportInfo FileExport(const char* name) {
    return {.name = name, .tag = name, .guard = Guard::NoHandle};
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXImgSave(int handle, int16_t side, const KVXRect* region, int16_t value,
                             int16_t request, const char* fileName) {
    return RunExport(HandleExport("KVXImgSave", handle), [&] {
        NoteRegion(region);
        return SaveSide({.side = side, .request = FromRequestWord(request, value)}, fileName);
    });
}

KVX_API KVXResult KVXImgSave2(int handle, int16_t side, int16_t left, int16_t top, int16_t right,
                              int16_t bottom, int16_t value, int16_t request,
                              const char* fileName) {
    return RunExport(HandleExport("KVXImgSave2", handle), [&] {
        NoteRegion(left, top, right, bottom);
        return SaveSide({.side = side, .request = FromRequestWord(request, value)}, fileName);
    });
}

KVX_API KVXResult KVXImgSave3(int handle, int16_t side, int16_t optionA, int16_t optionB,
                              int16_t left, int16_t top, int16_t right, int16_t bottom,
                              int16_t quality, int16_t format, int16_t rotation, int16_t dpi,
                              int16_t bitsPerPixel, const char* fileName) {
    return RunExport(HandleExport("KVXImgSave3", handle), [&] {
        NoteRegion(left, top, right, bottom);
        return SaveSide({.side = side,
                         .request = SplitRequest(format, rotation, quality, bitsPerPixel),
                         .optionA = optionA,
                         .optionB = optionB,
                         .dpi = dpi},
                        fileName);
    });
}

KVX_API KVXResult KVXImgSave4(int handle, int16_t side, int16_t left, int16_t top, int16_t right,
                              int16_t bottom, int16_t value, int16_t format, int16_t rotation,
                              const char* fileName) {
    return RunExport(HandleExport("KVXImgSave4", handle), [&] {
        NoteRegion(left, top, right, bottom);
        return SaveSide(
            {.side = side, .request = FromRequestWord(RequestWord(format, rotation), value)},
            fileName, {.invalidSide = "ImgSave4 with invalid side"});
    });
}

KVX_API KVXResult KVXImgSaveCol(int handle, int16_t side, const KVXRect* region, int16_t value,
                                int16_t request, int16_t channel, const char* fileName) {
    return RunExport(HandleExport("KVXImgSaveCol", handle), [&] {
        NoteRegion(region);
        ImageRequest r = FromRequestWord(request, value);
        r.channel = channel;
        if (r.channel == 0) r.channel = -1;  // a channel must be named
        return SaveSide({.side = side, .request = r}, fileName);
    });
}

KVX_API KVXResult KVXImgSaveFR(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                               int16_t request, const char* fileName) {
    return RunExport(HandleExport("KVXImgSaveFR", handle), [&] {
        return SaveComposite({.firstSide = firstSide,
                              .secondSide = secondSide,
                              .request = FromRequestWord(request, value)},
                             fileName);
    });
}

KVX_API KVXResult KVXImgSaveFR2(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                                int16_t format, int16_t rotation, int16_t dpi, int16_t bitsPerPixel,
                                const char* fileName) {
    return RunExport(HandleExport("KVXImgSaveFR2", handle), [&] {
        return SaveComposite({.firstSide = firstSide,
                              .secondSide = secondSide,
                              .request = SplitRequest(format, rotation, value, bitsPerPixel),
                              .dpi = dpi},
                             fileName);
    });
}

KVX_API KVXResult KVXImgSave3FR(int handle, int16_t firstSide, int16_t firstOptionA,
                                int16_t firstOptionB, int16_t secondSide, int16_t secondOptionA,
                                int16_t secondOptionB, int16_t value, int16_t format,
                                int16_t rotation, int16_t dpi, int16_t bitsPerPixel,
                                const char* fileName) {
    return RunExport(HandleExport("KVXImgSave3FR", handle), [&] {
        return SaveComposite({.firstSide = firstSide,
                              .secondSide = secondSide,
                              .firstOptionA = firstOptionA,
                              .firstOptionB = firstOptionB,
                              .secondOptionA = secondOptionA,
                              .secondOptionB = secondOptionB,
                              .request = SplitRequest(format, rotation, value, bitsPerPixel),
                              .dpi = dpi},
                             fileName);
    });
}

KVX_API KVXResult KVXSaveImgStruct(int handle, KVXImgDescriptor* image, const KVXRect* region,
                                   int16_t value, int16_t request, const char* fileName) {
    return RunExport(HandleExport("KVXSaveImgStruct", handle), [&] {
        const std::optional<int> side = DescriptorSide(image);
        if (!side) {
            LogPair("err - ", image == nullptr ? "invalid handle 3" : "invalid handle (CC)");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        NoteRegion(region);
        return SaveSide({.side = *side, .request = FromRequestWord(request, value)}, fileName);
    });
}

KVX_API KVXResult KVXSaveImgStruct2(int16_t side, const KVXRect* region, int16_t value,
                                    int16_t request, const char* fileName) {
    return RunExport(
        {.name = "KVXSaveImgStruct2", .tag = "KVXSaveImgStruct2", .guard = Guard::CurrentHandle},
        [&] {
            NoteRegion(region);
            return SaveSide({.side = side, .request = FromRequestWord(request, value)}, fileName);
        });
}

KVX_API KVXResult KVXSaveImgStr2(int handle, int16_t side, int16_t value, int16_t request,
                                 const char* fileName) {
    return RunExport(HandleExport("KVXSaveImgStr2", handle), [&] {
        if (!DescriptorSideCode(side)) {
            LogPair("err - ", "ImgSave with invalid side");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        return SaveSide({.side = side, .request = FromRequestWord(request, value)}, fileName);
    });
}

KVX_API KVXResult KVXSaveFrontRear(int handle, KVXImgDescriptor* first, KVXImgDescriptor* second,
                                   int16_t value, int16_t request, const char* fileName) {
    return RunExport(HandleExport("KVXSaveFrontRear", handle), [&] {
        const std::optional<int> a = DescriptorSide(first);
        const std::optional<int> b = DescriptorSide(second);
        if (!a) {
            LogPair("err - ", "invalid handle 0");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        if (!b) {
            LogPair("err - ", "invalid handle 1");
            return KVXResult{KVX_ERR_INV_PARAMETER};
        }
        return SaveComposite(
            {.firstSide = *a, .secondSide = *b, .request = FromRequestWord(request, value)},
            fileName);
    });
}

KVX_API KVXResult KVXMultiPageInit(int /*handle*/, const char* fileName, int16_t format) {
    return RunExport(FileExport("KVXMultiPageInit"),
                     [&] { return MultiPageInit(fileName, format, 60); });
}

KVX_API KVXResult KVXMultiPageInit0(int /*handle*/, const char* fileName, int16_t format,
                                    int16_t quality) {
    return RunExport(FileExport("KVXMultiPageInit0"),
                     [&] { return MultiPageInit(fileName, format, quality); });
}

KVX_API KVXResult KVXMultiPageAdd(int /*handle*/, const char* imageFile) {
    return RunExport(FileExport("KVXMultiPageAdd"), [&] { return MultiPageAdd(imageFile); });
}

KVX_API KVXResult KVXMultiPageClose(int /*handle*/) {
    return RunExport(FileExport("KVXMultiPageClose"), [] { return MultiPageClose(); });
}

}  // extern "C"
