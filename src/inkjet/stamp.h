// The endorsement stamp: a small monochrome image composed from a line of
// text (a ".fnt" bitmap font of the configuration directory or a system
// face) or loaded from a host's bitmap file, kept between documents, and
// turned into the print data of the two printer kinds: 12-bit columns for
// the type 1 printhead and nozzle words for the type 2 (TIJ2.5) cartridge.
// The scan reads the same image for the virtual endorsement.
//
// Every failure logs its message through the log writers, leaves no stamp
// image and returns its code: KVX_ERR_GENERIC (font or drawing failure, an
// unusable font file), KVX_ERR_INV_PARAMETER (size and format checks),
// KVX_ERR_OUT_OF_MEMORY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KovranMS.h"

namespace kovran::inkjet {

// One byte per pixel, 0 = ink, 255 = blank; stride = width rounded up to a
// multiple of 8.
struct StampImage {
    int width = 0;
    int height = 0;
    int stride = 0;
    int resolution = 0;  // 100 for composed text, 300 for loaded bitmaps
    std::vector<std::uint8_t> pixels;
};

enum class GlyphFlip : bool { No, Yes };
// Where a type 2 stamp lower than the print head goes: flipped upside down
// at the top (default) or flipped left to right at the bottom.
enum class Type2Orientation : bool { Default, Turned };
enum class Mirror : bool { Off, On };

// Settings stored by the set-ups and read by the composition.
struct StampSettings {
    std::string text;  // at most 511 characters
    std::string font;  // at most 259 characters
    int size = 0;      // points
    bool keep = false;
    Mirror mirror = Mirror::Off;
};

// The process-wide stamp: its settings, its image while one is composed,
// and the system face name that persists between compositions.
struct StampRecord {
    StampSettings settings;
    std::optional<StampImage> image;
    // The held image already carries the mirror: a kept stamp is prepared
    // again before every document and must not turn back each time.
    bool imageMirrored = false;
    std::string faceName = "ARIAL";
};
StampRecord& Stamp();

// Drops the image (set-up, stop, close, and type 1 after each document
// unless kept).
void DropStampImage();

// The ".fnt" file for a font name: configuration directory, "/", the name,
// and ".fnt" unless the name already ends so; nullopt when that file cannot
// be opened (the name is then a system face).
std::optional<std::string> FontFilePath(std::string_view fontName);

// Composes text with a ".fnt" font into the stamp image. glyphHeight is 12
// for type 1 (flipped) and 38 for type 2.
KVXResult ComposeFntText(std::string_view text, const std::string& fontPath, int glyphHeight,
                         GlyphFlip flip);

// Composes text with a system face into the stamp image at `band` rows (12
// for type 1, 150 with a type 2 printer) and writes the drawn bitmap to
// bitmapPath ("timbro.bmp" or "timbroTIJ25.bmp" of the configuration
// directory). A font name longer than one character replaces the face.
enum class TextTarget : std::uint8_t { Type1, Type2 };
KVXResult ComposeSystemText(std::string_view text, std::string_view fontName, int sizePoints,
                            TextTarget target, const std::string& bitmapPath);

// Loads an 8-bit grey bitmap file into the stamp image (resolution 300).
KVXResult LoadStampBitmap(const std::string& path);

// Type 1 preparation: composes the stored text when no image exists, applies
// the mirror, and checks 12 rows and 2 x width <= stampBufferSize. scanMode
// is the current scan mode (above 7 is refused).
struct Type1Printer {
    std::size_t stampBufferSize = 2048;
    int scanMode = 0;
};
KVXResult PrepareType1Stamp(const Type1Printer& printer);

// Packs the prepared image into type 1 columns in a buffer of the printer's
// stamp buffer size; *columns receives the column count. nullopt (logged)
// when the buffer cannot be had.
std::optional<std::vector<std::uint8_t>> PackType1Columns(std::size_t stampBufferSize,
                                                          int* columns);

// Type 2 orientation of a composed bitmap file: flip, pad to 150 rows,
// transpose and write it back.
KVXResult OrientType2Bitmap(const std::string& path, Type2Orientation orientation);

// Type 2 conversion of a 150-pixel-wide bitmap file into nozzle data,
// 44 bytes per print column, at most 5957 columns.
inline constexpr int kType2Rows = 150;
inline constexpr int kType2MaxColumns = 5957;
inline constexpr int kType2BytesPerColumn = 44;
KVXResult ConvertType2Bitmap(const std::string& path, std::vector<std::uint8_t>* nozzleData);

}  // namespace kovran::inkjet
