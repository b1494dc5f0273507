// The multipage file: one at a time, library-wide. TIFF pages are appended
// to a file under a temporary name that takes the host's name at the
// close; the PDF formats are handed to the PDF writer.
#pragma once

#include <memory>
#include <string>

#include "KovranMS.h"

namespace kovran::imaging::output {

KVXResult MultiPageInit(const char* fileName, int format, int quality);
KVXResult MultiPageAdd(const char* imageFile);
KVXResult MultiPageClose();

// Pages appended to the open TIFF (0 without one).
int MultiPagePages();

}  // namespace kovran::imaging::output
