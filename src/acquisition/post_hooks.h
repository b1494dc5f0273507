// The image operations the end of an acquisition needs from the imaging
// layer above: deskew and crop of each side, and the vertical stretch of one
// firmware. The composition root installs them; without them (tests of this
// layer) the sides stay as acquired.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/image_record.h"

namespace kovran::acquisition {

// Mirror flags of the destination rectangle.
enum class Mirror : unsigned { None = 0, X = 1, Y = 2 };

struct DeskewCall {
    // On for ordinary scans: deskew and crop at once. Off: crop only and keep
    // the transform for retrieval.
    bool fullTransform = true;
    Mirror mirror = Mirror::None;
    // The backlight record taken on this side, or null.
    ImageRecord* backlight = nullptr;
    // A microperforation zone was requested (the contour search's size test).
    bool microperforation = false;
    // The first part of a two-part scan (no minimum document size).
    bool firstPart = false;
    // Sharpen the deskewed side (every acquisition does).
    bool sharpen = true;
    // The virtual endorsement marked into the deskewed side, or none: one
    // 8-bit channel (255 blank), its top-left corner at x columns and y
    // lines of the output image.
    struct StampMark {
        const std::uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        int stride = 0;
        int x = 0;
        int y = 0;
    };
    StampMark stamp{};
};

struct PostProcessHooks {
    // Deskews and crops the side in place; false with *message set on
    // failure.
    bool (*deskewWrap)(ImageRecord& side, const DeskewCall& call, std::string* message) = nullptr;
    // Stretches the record vertically by factor when the spare lines hold it.
    bool (*fixVRes)(ImageRecord& record, double factor, int spareLines) = nullptr;
};

void InstallPostProcessHooks(const PostProcessHooks& hooks);
PostProcessHooks InstalledPostProcessHooks();

}  // namespace kovran::acquisition
