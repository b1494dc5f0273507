// Exports of the endorsement printers' set-ups.
#include "KovranMS.h"
#include "api/frame.h"
#include "inkjet/printer.h"

using namespace kovran;
namespace inkjet = kovran::inkjet;

namespace {

ExportInfo InkjetExport(const char* name, int handle) {
    return {.name = name, .tag = name, .guard = Guard::Handle, .handle = handle, .leave = true};
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXInkjet1SetUp(int handle, const char* text, const char* font, int16_t size,
                                  int16_t density, int16_t offset, int16_t keep) {
    return RunExport(InkjetExport("KVXInkjet1SetUp", handle), [&] {
        return inkjet::SetUpType1({.text = text,
                                   .font = font,
                                   .size = size,
                                   .density = density,
                                   .offset = offset,
                                   .keep = keep,
                                   .fire = 1});
    });
}

KVX_API KVXResult KVXInkjet1SetUp1(int handle, const char* text, const char* font, int16_t size,
                                   int16_t density, int16_t offset, int16_t keep, int16_t fire) {
    return RunExport(InkjetExport("KVXInkjet1SetUp1", handle), [&] {
        return inkjet::SetUpType1({.text = text,
                                   .font = font,
                                   .size = size,
                                   .density = density,
                                   .offset = offset,
                                   .keep = keep,
                                   .fire = fire});
    });
}

KVX_API KVXResult KVXInkjet1SetUp2(int handle, const char* text, const char* font, int16_t size,
                                   int16_t density, int16_t offset, int16_t keep, int16_t fire,
                                   int16_t mirror) {
    return RunExport(InkjetExport("KVXInkjet1SetUp2", handle), [&] {
        return inkjet::SetUpType1({.text = text,
                                   .font = font,
                                   .size = size,
                                   .density = density,
                                   .offset = offset,
                                   .keep = keep,
                                   .fire = fire,
                                   .mirror = mirror});
    });
}

KVX_API KVXResult KVXInkjet1SetUpImg(int handle, const char* bitmapFile, int16_t density,
                                     int16_t offset, int16_t keep, int16_t fire, int16_t mirror) {
    return RunExport(InkjetExport("KVXInkjet1SetUpImg", handle), [&] {
        // A missing file name is a bitmap that cannot be loaded, not an
        // empty text.
        return inkjet::SetUpType1({.bitmapFile = bitmapFile != nullptr ? bitmapFile : "",
                                   .density = density,
                                   .offset = offset,
                                   .keep = keep,
                                   .fire = fire,
                                   .mirror = mirror});
    });
}

KVX_API KVXResult KVXInkjet2SetUp(int handle, const char* text, const char* font, int16_t size,
                                  int16_t offset, int16_t reserved, int16_t fire,
                                  int16_t orientation) {
    (void)reserved;
    return RunExport(InkjetExport("KVXInkjet2SetUp", handle), [&] {
        return inkjet::SetUpType2Text({.text = text,
                                       .font = font,
                                       .size = size,
                                       .offset = offset,
                                       .fire = fire,
                                       .orientation = orientation});
    });
}

KVX_API KVXResult KVXInkjet2SetUpImg(int handle, const char* bitmapFile, int16_t offset,
                                     int16_t reserved) {
    (void)reserved;
    return RunExport(InkjetExport("KVXInkjet2SetUpImg", handle), [&] {
        return inkjet::SetUpType2Image(bitmapFile, offset, inkjet::Printer().defaultFire);
    });
}

}  // extern "C"
