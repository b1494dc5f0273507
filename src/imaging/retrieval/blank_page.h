// The blank page test: a side is blank when no line of its inner area has
// more dark pixels than the allowance, the dark border of the sensor
// skipped at both ends of every line.
#pragma once

#include "KovranMS.h"
#include "acquisition/image_record.h"

namespace kovran::imaging::retrieval {

// 6 (blank) or 0 (not blank) for the record; pixThreshold in tenths of a
// percent of the examined width, darkLevel the grey level below which a
// pixel counts as dark.
KVXResult PageBlank(const ImageRecord& record, int pixThreshold, int darkLevel);

// The export's checks around PageBlank for a side code.
KVXResult IsPageBlank(int side, int pixThreshold, int darkLevel);

}  // namespace kovran::imaging::retrieval
