// Saving one side, or the front-rear composite, to a file: the image of the
// retrieval pipeline written whole under a temporary name and renamed, and
// for the PDF formats a page made from a temporary image file.
#pragma once

#include "KovranMS.h"
#include "imaging/retrieval/retrieval.h"

namespace kovran::imaging::output {

// The texts the variants of the save log.
struct SaveTexts {
    const char* invalidSide = "ImgSave with invalid side";
};

// Saves the side. fileName may be null (refused).
KVXResult SaveSide(const retrieval::RetrieveCall& call, const char* fileName,
                   const SaveTexts& texts = {});
KVXResult SaveComposite(const retrieval::CompositeCall& call, const char* fileName);

}  // namespace kovran::imaging::output
