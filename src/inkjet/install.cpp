#include "inkjet/install.h"

#include "acquisition/inkjet_hooks.h"
#include "inkjet/printer.h"

namespace kovran::inkjet {

void AddInkjetSeams(device::ConnectionSeams& seams) {
    seams.readInkjetInformation = &ReadPrinterInformation;
    seams.stopInkjets = &StopInkjets;
    seams.stopInkjetType2 = &StopInkjetType2;
}

void InstallInkjet() {
    acquisition::InstallInkjetHooks({.stampArmed = &StampArmed,
                                     .startPrint = &StartPrint,
                                     .virtualEndorsement = &MakeVirtualEndorsement,
                                     .endOfDocument = &EndOfDocument});
}

}  // namespace kovran::inkjet
