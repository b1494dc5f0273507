// The inkjet printers of a simulated scanner: their information blocks,
// the printed-document counter, and the printer itself. A type 1 printer
// takes the whole stamp as 12-bit columns before the document and prints
// it on the document that follows the printer-on command; a type 2 (TIJ2.5)
// cartridge is identified and warmed through its analog channels and
// prints the nozzle data streamed while the document moves. Each
// document's print is kept as an image (one pixel per dot: 12 or 150
// rows, one column per print column) and, with an output folder, written
// there as "printed_<n>.pgm" with "printed_<n>.txt" (the set-up values).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/command_table.h"
#include "sim/device_profile.h"

namespace kovran::sim {

struct PrintedDocument {
    int start = 0;   // the set-up's start position
    int second = 0;  // its second position
    int density = 0;
    int fire = 0;
    int rows = 0;
    int columns = 0;
    std::vector<std::uint8_t> pixels;  // rows x columns, 0 ink, 255 blank
};

class PrinterModel {
  public:
    explicit PrinterModel(const DeviceProfile& profile);

    std::uint32_t InkjetCounter() const { return inkjetCounter_; }
    const std::vector<PrintedDocument>& Printed() const { return printed_; }
    std::uint64_t DataBytes() const { return dataBytes_; }

    // Whether the printer takes a block of data now (a type 2 printer only
    // while printing and while a document is under way, until a stall, and
    // only as far as the paper has passed under the head: never beyond the
    // document's trailing edge).
    enum class Take : std::uint8_t { Now, Later, Never };
    struct Paper {
        bool underWay = false;
        double inchesPassed = 0.0;  // of the document, up to its length
    };
    Take Accepts(const Paper& paper, std::size_t length, std::int64_t submittedMs,
                 std::int64_t nowMs) const;
    void TakeData(const std::uint8_t* data, std::size_t length);
    // The document has passed: what was printed on it is kept (and
    // written out). A type 1 printhead prints its columns at its dot pitch
    // (information byte 1) only while the document of that length is under
    // it: the rest falls past the trailing edge and is not printed.
    void FinishDocument(double documentInches);

    static void OnReadInkjetCounter(ScannerModel& model, const CommandCall& call);
    static void OnIncrementInkjetCounter(ScannerModel& model, const CommandCall& call);
    static void OnReadInkjet1Config(ScannerModel& model, const CommandCall& call);
    static void OnReadInkjet2Config(ScannerModel& model, const CommandCall& call);
    static void OnPrinterOn(ScannerModel& model, const CommandCall& call);
    static void OnPrinterOff(ScannerModel& model, const CommandCall& call);
    static void OnSetUp(ScannerModel& model, const CommandCall& call);
    static void OnIdentificationMode(ScannerModel& model, const CommandCall& call);
    static void OnStatus(ScannerModel& model, const CommandCall& call);
    static void OnStartPrinting(ScannerModel& model, const CommandCall& call);
    static void OnStopPrinting(ScannerModel& model, const CommandCall& call);
    static void OnIdentificationBit(ScannerModel& model, const CommandCall& call);
    static void OnWarmPulses(ScannerModel& model, const CommandCall& call);
    static void OnCountOrReference(ScannerModel& model, const CommandCall& call);
    static void OnRx10(ScannerModel& model, const CommandCall& call);
    static void OnTsr(ScannerModel& model, const CommandCall& call);
    static void OnAmbient(ScannerModel& model, const CommandCall& call);
    static void OnWarmTarget(ScannerModel& model, const CommandCall& call);
    static void OnPrintResult(ScannerModel& model, const CommandCall& call);

  private:
    bool CartridgeWorks() const;
    PrintedDocument Render(const std::vector<std::uint8_t>& data) const;
    void WriteOut(const PrintedDocument& doc) const;

    const bool type1_;
    const bool type2_;
    const int type1DotsPerInch_;
    const PrinterSettings settings_;
    std::uint32_t inkjetCounter_ = 0;
    bool powered_ = false;
    bool printing_ = false;
    int start_ = 0;
    int second_ = 0;
    int density_ = 0;
    int fire_ = 0;
    int tsr_ = 0;
    int identificationBit_ = 0;
    bool removed_ = false;
    std::vector<std::uint8_t> data_;  // this document's (or the stamp buffer's) bytes
    std::uint64_t dataBytes_ = 0;
    std::uint32_t lastPrintedBytes_ = 0;
    bool lastIncomplete_ = false;
    std::vector<PrintedDocument> printed_;
};

}  // namespace kovran::sim
