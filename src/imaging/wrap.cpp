#include "imaging/wrap.h"

#include <cstring>
#include <limits>

#include "api/log.h"
#include "api/settings.h"
#include "imaging/record_planes.h"
#include "imaging/resize.h"

namespace kovran::imaging {

namespace {

bool Fail(std::string* message, const char* text) {
    LogPair("err - ", text);
    if (message != nullptr) *message = text;
    return false;
}

}  // namespace

bool Wrap(const ImageRecord& input, const WrapRequest& request, ImageRecord* output,
          std::string* message) {
    if (output == nullptr) return Fail(message, "allocating image buffer");
    const int rotation = request.rotation;
    if (rotation != kRotateNone && rotation != kRotateClockwise && rotation != kRotateHalf &&
        rotation != kRotateCounterClockwise)
        return Fail(message, "unexpected rotation");
    if (!input.completed) return Fail(message, "wrap cut and copy old style");
    if (!RecordUsable(input)) return Fail(message, "allocating image buffer");
    const int dpi = request.dpi > 0 ? request.dpi : input.dpiH;
    // The output record states its resolution in 16 bits.
    if (input.dpiH == 0 || input.dpiV == 0 || dpi > std::numeric_limits<std::uint16_t>::max())
        return Fail(message, "allocating image buffer");
    const long long width = static_cast<long long>(input.width) * dpi / input.dpiH;
    const long long height = static_cast<long long>(input.Height) * dpi / input.dpiV;
    if (width < 1 || height < 1 || width > 65535 || height > 65535)
        return Fail(message, "allocating image buffer");
    const bool quarter = rotation == kRotateClockwise || rotation == kRotateCounterClockwise;
    const bool merge =
        request.channels == ChannelChoice::Grey && input.bytesPerPixel == 3 && input.channels >= 3;

    ImageRecord out;
    out.side = input.side;
    out.bytesPerPixel = merge ? 1 : input.bytesPerPixel;
    out.dpiH = out.dpiV = static_cast<std::uint16_t>(dpi);
    out.skew = 0.0f;
    out.skewWeight = input.skewWeight;
    out.flags = input.flags;
    const int planes = merge ? 1 : input.channels;
    if (!ShapeDerived(out, static_cast<int>(quarter ? height : width),
                      static_cast<int>(quarter ? width : height), planes))
        return Fail(message, "allocating image buffer");

    const bool deskewOn = Settings().scan.deskew;
    const bool plain = dpi == input.dpiH && dpi == input.dpiV && rotation == kRotateNone &&
                       request.optionA == 0 && request.optionB == 0 && !merge &&
                       request.mirror == acquisition::Mirror::None &&
                       !request.invertBacklightFlip && (input.deskewed || !deskewOn);
    if (plain) {
        for (int c = 0; c < input.channels; ++c) {
            const cv::Mat from = ChannelPlane(input, c);
            StorePlane(out, c, from);
        }
    } else {
        const unsigned mirror = static_cast<unsigned>(request.mirror);
        ResizeRequest resize{
            .deskew = deskewOn && !input.deskewed,
            .greyMerge = merge,
            .flipUpDown = rotation == kRotateClockwise || rotation == kRotateHalf,
            .flipLeftRight = rotation == kRotateCounterClockwise || rotation == kRotateHalf,
            .transpose = quarter};
        if ((mirror & 1u) != 0) resize.flipLeftRight = !resize.flipLeftRight;
        if ((mirror & 2u) != 0) resize.flipUpDown = !resize.flipUpDown;
        if (request.invertBacklightFlip) resize.flipLeftRight = !resize.flipLeftRight;
        // KVXResize takes the size before the turn.
        out.width = static_cast<std::uint16_t>(width);
        out.Height = static_cast<std::uint16_t>(height);
        std::string failure;
        if (!KVXResize(input, input.side, out, resize, &failure)) {
            LogPair("err - ", failure.c_str());
            if (message != nullptr) *message = failure;
            return false;
        }
    }
    out.processed = out.enabled = out.completed = true;
    // Deskewed now, so that a second wrap of it does not turn it again.
    out.deskewed = input.deskewed || (deskewOn && !plain);
    *output = std::move(out);
    return true;
}

}  // namespace kovran::imaging
