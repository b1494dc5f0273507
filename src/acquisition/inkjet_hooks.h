// The endorsement printer as the scan sees it: whether a stamp is armed,
// the print start of each document, the virtual endorsement of the front,
// and the check after the document. The inkjet layer above installs them;
// without them (tests of this layer) nothing is ever printed.
#pragma once

#include "KovranMS.h"
#include "acquisition/image_record.h"
#include "acquisition/post_hooks.h"

namespace kovran::acquisition {

struct InkjetHooks {
    bool (*stampArmed)() = nullptr;
    // Starts the print of the document about to be scanned; false fails
    // the scan start.
    bool (*startPrint)() = nullptr;
    // The virtual endorsement of the front about to be deskewed: false when
    // none is to be drawn. The mark's pixels stay valid until the next call.
    bool (*virtualEndorsement)(const ImageRecord& front, DeskewCall::StampMark* mark) = nullptr;
    // After the document (also after a failed or stopped scan): the
    // printed-stamp check and the count; returns the scan's result or the
    // check's failure.
    KVXResult (*endOfDocument)(KVXResult scanResult) = nullptr;
};

void InstallInkjetHooks(const InkjetHooks& hooks);

bool StampArmed();
bool StartInkjetPrint();
bool VirtualEndorsement(const ImageRecord& front, DeskewCall::StampMark* mark);
KVXResult EndOfPrintedDocument(KVXResult scanResult);

}  // namespace kovran::acquisition
