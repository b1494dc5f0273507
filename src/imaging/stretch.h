// Stretches: the vertical one that makes up for the line pitch of one
// firmware, and the general one with which the readers bring a zone to
// their working resolution and angle.
#pragma once

#include <string>

#include "acquisition/image_record.h"
#include "imaging/image_view.h"

namespace kovran::imaging {

// Stretches the record's lines vertically by factor, in place, when it has
// at least 10 lines and Height x factor fits into spareLines (the lines its
// buffer holds from its first image line on). False with the failure logged
// when the record is null or the memory is not there; an untouched record
// (too short, no room) is not a failure.
bool KVXFixVRes(ImageRecord* record, double factor, int spareLines);

struct StretchFactors {
    int numH = 1;
    int denH = 1;
    int numV = 1;
    int denV = 1;
};

// The input scaled by numH / denH across and numV / denV down and turned
// by angle (radians, counter-clockwise); beyond a quarter of pi the axes are
// exchanged. colours is the samples per pixel the caller expects of both
// images. False with *message set on bad factors or memory.
bool Stretch(ConstImageView input, ImageBuffer* output, const StretchFactors& factors, double angle,
             int colours, std::string* message);

}  // namespace kovran::imaging
