// The virtual endorsement: the type 1 stamp just printed, scaled to the
// front's resolutions and turned so that its columns run along the paper
// path, marked into the front where the printer put it.
#include <algorithm>
#include <vector>

#include "acquisition/inkjet_hooks.h"
#include "api/log.h"
#include "device/device_record.h"
#include "inkjet/printer.h"

namespace kovran::inkjet {

namespace {

constexpr std::uint16_t kFirmwareInvertedScale = 0x3100;
constexpr int kMinimumDivisor = 10;

struct EndorsementImage {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int stride = 0;
};
// Kept for the deskew that marks it.
EndorsementImage& Endorsement() {
    static EndorsementImage image;
    return image;
}

int RoundUp8(int v) {
    return (v + 7) / 8 * 8;
}

}  // namespace

bool MakeVirtualEndorsement(const ImageRecord& front, acquisition::DeskewCall::StampMark* mark) {
    PrinterRecord& p = Printer();
    const DeviceIdentity id = device::Identity();
    if (!p.printedThisDocument || !p.printedStamp || !id.capabilities.inkjetType1) return false;
    if (CheckPrintedStamp() != KVX_OK) return false;
    const StampImage& stamp = *p.printedStamp;
    const int r = p.stampResolution;
    int k = 100;
    if (p.referenceDensity != 0) {
        if (id.firmware >= kFirmwareInvertedScale) {
            if (p.density != 0) k = p.referenceDensity * 100 / p.density;
        } else {
            k = p.density * 100 / p.referenceDensity;
        }
    }
    const int horizontal = r * k / 100;
    // Before the turn: along the paper path (the stamp's width) and across.
    const int along = front.dpiV * stamp.width / std::max(r, kMinimumDivisor);
    const int across = front.dpiH * stamp.height / std::max(horizontal, kMinimumDivisor);
    // The resolution comes from the printer's information block: a stamp
    // that would come out larger than the front it is drawn on says the
    // block is wrong, and is not made.
    if (along <= 0 || across <= 0 || stamp.width <= 0 || stamp.height <= 0 ||
        along > static_cast<int>(front.Height) || across > front.width ||
        stamp.pixels.size() < static_cast<std::size_t>(stamp.height) * stamp.stride) {
        LogPair("err - ", "error creating stamp");
        return false;
    }
    // Resized (nearest pixel, so that the ink stays 0 or 255) and turned:
    // line i of the result is stamp column i, its pixel j stamp row j.
    EndorsementImage& out = Endorsement();
    out.width = across;
    out.height = along;
    out.stride = RoundUp8(across);
    out.pixels.assign(static_cast<std::size_t>(out.stride) * out.height, 255);
    for (int i = 0; i < along; ++i) {
        const int column = std::min(stamp.width - 1, i * stamp.width / along);
        for (int j = 0; j < across; ++j) {
            const int row = std::min(stamp.height - 1, j * stamp.height / across);
            out.pixels[static_cast<std::size_t>(i) * out.stride + j] =
                stamp.pixels[static_cast<std::size_t>(row) * stamp.stride + column];
        }
    }
    *mark = {.pixels = out.pixels.data(),
             .width = out.width,
             .height = out.height,
             .stride = out.stride,
             .x = front.dpiH * p.positionValue / 100,
             .y = front.dpiV * p.offset / 100,
             .anchor = acquisition::DeskewCall::StampAnchor::Right};
    return true;
}

}  // namespace kovran::inkjet
