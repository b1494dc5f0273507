// The deskew and crop of a side as first written (every working image made
// afresh, the outlines traced by cv::findContours): what the kept workspace
// must still give.
#pragma once

#include <string>

#include "acquisition/image_record.h"
#include "acquisition/post_hooks.h"

namespace kovran::imaging::reference {

bool ReferenceDeskewWrap(ImageRecord& side, const acquisition::DeskewCall& call,
                         std::string* message);

}  // namespace kovran::imaging::reference
