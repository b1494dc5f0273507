// Deskew and crop of a side at the end of an acquisition: the document's
// outline is found in the side and the side is replaced by the upright
// document (full transform), or by the document's bounding box with the
// remaining rotation kept for retrieval (crop only).
#pragma once

#include <string>

#include "acquisition/image_record.h"
#include "acquisition/post_hooks.h"

namespace kovran::imaging {

// False with *message set when the side cannot be processed. A side in
// which no document is found stays as acquired (logged, true).
bool KVXDeskewWrap(ImageRecord& side, const acquisition::DeskewCall& call, std::string* message);

// The deskew and the vertical stretch as the acquisition calls them.
acquisition::PostProcessHooks MakePostProcessHooks();

}  // namespace kovran::imaging
