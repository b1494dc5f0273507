// The wrap of retrieval: a side copied into a new record at the resolution
// and rotation the host asks for, deskewed by the side's stored transform
// when that is on.
#pragma once

#include <string>

#include "acquisition/image_record.h"
#include "acquisition/post_hooks.h"

namespace kovran::imaging {

// Rotation codes of the request word.
inline constexpr int kRotateNone = 0;
inline constexpr int kRotateClockwise = 0x100;
inline constexpr int kRotateHalf = 0x200;
inline constexpr int kRotateCounterClockwise = 0x300;

enum class ChannelChoice { AsAcquired, Grey };

struct WrapRequest {
    int dpi = 0;  // 0: the side's horizontal resolution
    int rotation = kRotateNone;
    // The two elaboration options of the retrieval functions; any of them
    // set rules out the plain copy.
    int optionA = 0;
    int optionB = 0;
    ChannelChoice channels = ChannelChoice::AsAcquired;
    acquisition::Mirror mirror = acquisition::Mirror::None;
    // The backlight of the models whose backlight sensor faces the other
    // way, when the codeline was not found on the front.
    bool invertBacklightFlip = false;
};

// Fills output with the elaborated side (memory of its own). False with
// the failure logged ("err - " and the message) and *message set.
bool Wrap(const ImageRecord& input, const WrapRequest& request, ImageRecord* output,
          std::string* message);

}  // namespace kovran::imaging
