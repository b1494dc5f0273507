#include "imaging/retrieval/retrieval.h"

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <string>

#include "acquisition/images.h"
#include "api/ini_settings.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/device_record.h"
#include "imaging/deskew.h"
#include "imaging/output/autoquality.h"
#include "imaging/output/encode_image.h"
#include "imaging/record_planes.h"
#include "imaging/retrieval/side_picture.h"
#include "imaging/wrap.h"

namespace kovran::imaging::retrieval {

namespace {

using output::ImageRequest;

Retrieved Fail(KVXResult result) {
    Retrieved r;
    r.result = result;
    return r;
}

// A fixed quarter turn reads the other way round on the side that faces
// away from the magnetic head (and on the backlight taken with it).
int SideRotation(int rotation, int sideIndex) {
    if (rotation == output::kRotationAuto) {
        // The rotation the codeline reading found; none without a reading.
        return 0;
    }
    if (rotation != kRotateClockwise && rotation != kRotateCounterClockwise) return rotation;
    const DeviceCapabilities& caps = device::Identity().capabilities;
    const int head = caps.codelineSide;
    int owner = sideIndex;
    if (sideIndex == kBacklight) owner = caps.backlightSide == kRear ? kRear : kFront;
    if (owner == head) return rotation;
    return rotation == kRotateClockwise ? kRotateCounterClockwise : kRotateClockwise;
}

// Steps common to a side and to each half of a composite: the side has its
// data, is completed, and is elaborated at the resolution and rotation.
struct Elaborated {
    KVXResult result = KVX_OK;
    ImageRecord record;  // the wrapped side, unless the side serves as it is
    const ImageRecord* view = nullptr;
    const ImageRecord& Image() const { return view != nullptr ? *view : record; }
};

// A request the side answers as it lies: its own resolution, no turn, no
// elaboration option, nothing left to deskew. No copy is made of it.
bool AsItIs(const ImageRecord& side, int dpi, int rotation, int optionA, int optionB) {
    const int out = dpi > 0 ? dpi : side.dpiH;
    return out == side.dpiH && out == side.dpiV && rotation == 0 && optionA == 0 && optionB == 0 &&
           (side.deskewed || !Settings().scan.deskew);
}

Elaborated Elaborate(int sideIndex, int rotation, int optionA, int optionB, int dpi) {
    Elaborated e;
    ImageRecord& side = acquisition::Images().myImg[static_cast<std::size_t>(sideIndex)];
    if (side.data == nullptr) {
        LogPair("war - ", "GetElabImgStruct with null data pointer");
        e.result = KVX_WAR_IMAGE_SIZE;
        return e;
    }
    if (side.Height == 0) {
        LogPair("war - ", "ImgGet with null dimensions - invalid height");
        e.result = KVX_WAR_IMAGE_SIZE;
        return e;
    }
    if (side.width == 0) {
        LogPair("war - ", "ImgGet with null dimensions - invalid width");
        e.result = KVX_WAR_IMAGE_SIZE;
        return e;
    }
    if (!side.completed && sideIndex != kBacklight) {
        std::string message;
        if (!KVXDeskewWrap(side, {.fullTransform = Settings().scan.deskew}, &message)) {
            e.result = KVX_ERR_OUT_OF_MEMORY;
            return e;
        }
        side.completed = true;
    }
    if (!side.completed) side.completed = true;
    const int turn = SideRotation(rotation, sideIndex);
    if (AsItIs(side, dpi, turn, optionA, optionB)) {
        e.view = &side;
        return e;
    }
    WrapRequest wrap;
    wrap.dpi = dpi;
    wrap.rotation = turn;
    wrap.optionA = optionA;
    wrap.optionB = optionB;
    std::string message;
    if (!Wrap(side, wrap, &e.record, &message)) {
        LogPair("war - ", "ImgGet with null data pointer");
        e.result = KVX_WAR_IMAGE_SIZE;
        return e;
    }
    if (e.record.Height == 0) {
        LogPair("war - ", "ImgGet with null dimensions - invalid height");
        e.result = KVX_WAR_IMAGE_SIZE;
    } else if (e.record.width == 0) {
        LogPair("war - ", "ImgGet with null dimensions - invalid width");
        e.result = KVX_WAR_IMAGE_SIZE;
    }
    return e;
}

// The extra channel line a request for infrared or ultraviolet reads.
PlaneChoice Planes(const ImageRecord& record, int channel) {
    if (channel == 0) return {};
    const bool infraredOn = (Settings().scan.color & 0x08) != 0;
    int index = record.bytesPerPixel;
    if (channel == output::kChannelUltraviolet && infraredOn) ++index;
    return {.first = index, .count = 1};
}

// Step 7: the bitmap as it is, or encoded.
Retrieved Finish(const ImageRecord& image, Adjust adjust, PlaneChoice planes,
                 const ImageRequest& request, int sideIndex) {
    Retrieved out;
    out.sideIndex = sideIndex;
    out.dpi = image.dpiH;
    out.width = image.width;
    out.height = image.Height;
    const int nativeBits = (planes.count > 0 ? planes.count : image.bytesPerPixel) * 8;
    const bool keepBits = request.bitsPerPixel == 0 || request.bitsPerPixel == nativeBits;
    if (request.format == output::kFormatBmp && keepBits && !request.flip) {
        std::optional<Bytes> bitmap = BuildBitmap(image, adjust, request.order, planes);
        if (!bitmap) {
            LogValue("Get elab image with invalid memory allocation", ENOMEM);
            return Fail(KVX_ERR_OUT_OF_MEMORY);
        }
        out.image = std::move(*bitmap);
        return out;
    }
    output::EncodeParams params;
    params.format = request.format;
    params.quality = request.quality;
    params.threshold = output::BilevelThreshold();
    params.flip = request.flip;
    params.order = request.order;
    params.dpiH = image.dpiH;
    params.dpiV = image.dpiV;
    params.bitsPerPixel = request.bitsPerPixel;
    const bool ccitt =
        request.format == output::kFormatTiffG3 || request.format == output::kFormatTiffG4;
    std::optional<codec::Picture> picture = BuildPicture(
        image, adjust, planes,
        {.bitsPerPixel = ccitt ? 1 : request.bitsPerPixel, .threshold = params.threshold});
    if (!picture) {
        LogValue("Get elab image with invalid memory allocation", ENOMEM);
        return Fail(KVX_ERR_OUT_OF_MEMORY);
    }
    if (request.format == output::kFormatJpeg && request.quality == output::kAutoQuality) {
        output::AutoQualityResult a = output::AutoQuality(sideIndex, [&](int q) {
            output::EncodeParams p = params;
            p.quality = q;
            return output::EncodePicture(*picture, p);
        });
        if (a.result != KVX_OK) return Fail(a.result);
        out.image = std::move(a.image);
        return out;
    }
    std::optional<Bytes> encoded = output::EncodePicture(std::move(*picture), params);
    if (!encoded) {
        LogPair("err - ", "EncodeImage returns NULL Pointer");
        return Fail(KVX_ERR_GENERIC);
    }
    out.image = std::move(*encoded);
    return out;
}

int RequestRotation(int rotation) {
    if (rotation == 0 && IniRotAuto() > 0) {
        LogText("ini forces rotation auto");
        return output::kRotationAuto;
    }
    return rotation;
}

}  // namespace

std::optional<int> ResolveSide(int code) {
    const ImagesRecord& images = acquisition::Images();
    if (Settings().scan.sideAuto) {
        if (code == 0) code = 8;
        if (code == 1) code = 9;
    }
    switch (code) {
        case kRear:
        case kFront:
        case kBacklight:
            return code;
        case 8:
            return images.otherSide;
        case 9:
            return images.codelineSide;
        default:
            return std::nullopt;
    }
}

Retrieved Retrieve(const RetrieveCall& call) {
    const std::optional<int> index = ResolveSide(call.side);
    if (!index) {
        LogPair("err - ", "ImgGet with invalid side");
        return Fail(KVX_ERR_INV_PARAMETER);
    }
    ImageRequest request = call.request;
    request.rotation = RequestRotation(request.rotation);
    if (const KVXResult v = output::ValidateRequest(request, call.destination); v != KVX_OK)
        return Fail(v);
    Elaborated e = Elaborate(*index, request.rotation, call.optionA, call.optionB, call.dpi);
    if (e.result != KVX_OK) return Fail(e.result);
    const ImageRecord& side = acquisition::Images().myImg[static_cast<std::size_t>(*index)];
    const ImageRecord& image = e.Image();
    const PlaneChoice planes = Planes(image, request.channel);
    if (planes.count == 1 && planes.first >= image.channels) {
        LogPair("err - ", "Image Elaboration - invalid image format");
        return Fail(KVX_ERR_INV_PARAMETER);
    }
    return Finish(image, {side.brightness, side.contrast}, planes, request, *index);
}

Retrieved RetrieveComposite(const CompositeCall& call) {
    const std::optional<int> first = ResolveSide(call.firstSide);
    const std::optional<int> second = ResolveSide(call.secondSide);
    if (!first || !second || *first == kBacklight || *second == kBacklight) {
        LogPair("err - ", "Save front rear  with invalid side");
        return Fail(KVX_ERR_INV_PARAMETER);
    }
    ImageRequest request = call.request;
    request.rotation = RequestRotation(request.rotation);
    if (const KVXResult v = output::ValidateRequest(request, call.destination); v != KVX_OK)
        return Fail(v);
    const ImageSet& myImg = acquisition::Images().myImg;
    const ImageRecord& a = myImg[static_cast<std::size_t>(*first)];
    const ImageRecord& b = myImg[static_cast<std::size_t>(*second)];
    if (a.dpiH < 100 || b.dpiH < 100 || a.data == nullptr || b.data == nullptr) {
        LogPair("err - ", "Save front rear without requested side");
        return Fail(KVX_ERR_INV_PARAMETER);
    }
    const int dpi = call.dpi > 0 ? call.dpi : std::max(a.dpiH, b.dpiH);
    Elaborated ea = Elaborate(*first, request.rotation, call.firstOptionA, call.firstOptionB, dpi);
    if (ea.result != KVX_OK) return Fail(ea.result);
    Elaborated eb =
        Elaborate(*second, request.rotation, call.secondOptionA, call.secondOptionB, dpi);
    if (eb.result != KVX_OK) return Fail(eb.result);

    const ImageRecord& ra = ea.Image();
    const ImageRecord& rb = eb.Image();
    const int width = (std::max<int>(ra.width, rb.width) + 3) & ~3;
    const int height = ra.Height + rb.Height;
    const int colours = std::max<int>(ra.bytesPerPixel, rb.bytesPerPixel);
    if (height > 65535 || width > 65535) {
        LogPair("err - ", "Save front rear  - out of memory");
        return Fail(KVX_ERR_OUT_OF_MEMORY);
    }
    ImageRecord both;
    both.side = ra.side;
    both.bytesPerPixel = static_cast<std::uint8_t>(colours);
    both.dpiH = both.dpiV = static_cast<std::uint16_t>(dpi);
    if (!ShapeDerived(both, width, height, colours)) {
        LogPair("err - ", "Save front rear  - out of memory");
        return Fail(KVX_ERR_OUT_OF_MEMORY);
    }
    int y0 = 0;
    for (const ImageRecord* part : {&ra, &rb}) {
        for (int y = 0; y < part->Height; ++y) {
            const std::uint8_t* in =
                part->data + static_cast<std::ptrdiff_t>(part->top + y) * part->stride + part->left;
            std::uint8_t* out = both.data +
                                static_cast<std::ptrdiff_t>(both.top + y0 + y) * both.stride +
                                both.left;
            for (int c = 0; c < colours; ++c) {
                // A grey side is repeated into each colour channel.
                const int from = part->bytesPerPixel == colours ? c : 0;
                std::uint8_t* o = out + c * both.channelPitch;
                std::memcpy(o, in + from * part->channelPitch, part->width);
                std::memset(o + part->width, 0, static_cast<std::size_t>(width - part->width));
            }
        }
        y0 += part->Height;
    }
    const ImageRecord& front = myImg[kFront];
    Retrieved out = Finish(both, {front.brightness, front.contrast}, {}, request, *first);
    return out;
}

RgbPixels RetrieveRgb(int sideIndex) {
    RgbPixels out;
    if (sideIndex < 0 || sideIndex > 2) {
        LogPair("err - ", "GetElabImg - invalid image side");
        out.result = KVX_ERR_INV_PARAMETER;
        return out;
    }
    Elaborated e = Elaborate(sideIndex, 0, 0, 0, 0);
    if (e.result != KVX_OK) {
        out.result = e.result;
        return out;
    }
    const ImageRecord& r = e.Image();
    const int padded = r.width + 7;
    try {
        out.pixels.assign(static_cast<std::size_t>(padded) * 3 * r.Height, 0);
    } catch (const std::bad_alloc&) {
        LogValue("calloc with error in GetElabImg", ENOMEM);
        out.result = KVX_ERR_OUT_OF_MEMORY;
        return out;
    }
    const bool colour = r.bytesPerPixel == 3 && r.channels >= 3;
    for (int y = 0; y < r.Height; ++y) {
        const std::uint8_t* line =
            r.data + static_cast<std::ptrdiff_t>(r.top + y) * r.stride + r.left;
        std::uint8_t* o = out.pixels.data() + static_cast<std::size_t>(y) * padded * 3;
        for (int x = 0; x < r.width; ++x) {
            for (int c = 0; c < 3; ++c) o[x * 3 + c] = line[(colour ? c : 0) * r.channelPitch + x];
        }
    }
    out.width = r.width;
    out.height = r.Height;
    return out;
}

}  // namespace kovran::imaging::retrieval
