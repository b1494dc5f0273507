#include "inkjet/install.h"

#include "acquisition/inkjet_hooks.h"
#include "inkjet/printer.h"

namespace kovran::inkjet {

// Each entry from the device and the scan runs under the printer's lock.
void AddInkjetSeams(device::ConnectionSeams& seams) {
    seams.readInkjetInformation = [](device::InkjetType type) {
        const auto lock = LockPrinter();
        return ReadPrinterInformation(type);
    };
    seams.stopInkjets = [] {
        const auto lock = LockPrinter();
        StopInkjets();
    };
    seams.stopInkjetType2 = [] {
        const auto lock = LockPrinter();
        StopInkjetType2();
    };
}

void InstallInkjet() {
    acquisition::InstallInkjetHooks(
        {.stampArmed =
             [] {
                 const auto lock = LockPrinter();
                 return StampArmed();
             },
         .startPrint =
             [] {
                 const auto lock = LockPrinter();
                 return StartPrint();
             },
         .virtualEndorsement =
             [](const ImageRecord& front, acquisition::DeskewCall::StampMark* mark) {
                 const auto lock = LockPrinter();
                 return MakeVirtualEndorsement(front, mark);
             },
         .endOfDocument =
             [](KVXResult scanResult) {
                 const auto lock = LockPrinter();
                 return EndOfDocument(scanResult);
             }});
}

}  // namespace kovran::inkjet
