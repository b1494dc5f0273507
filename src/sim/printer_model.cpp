#include "sim/printer_model.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "sim/eeprom_model.h"
#include "sim/scanner_model.h"

namespace kovran::sim {

namespace {

constexpr int kType1Rows = 12;
constexpr int kType2Rows = 150;
constexpr std::size_t kType2ColumnBytes = 44;
constexpr double kType2ColumnsPerInch = 300.0;
constexpr std::uint8_t kAdReference = 138;
constexpr int kRx10Raw = 161;      // 300 ohms at that reference
constexpr int kWrongRx10Raw = 20;  // a cartridge of another kind
constexpr std::uint8_t kConverted = 0x04;
constexpr std::uint8_t kHighBit = 0x80;
constexpr std::uint8_t kIdentificationAnswer = 17;
constexpr int kIdHigh = 200;
constexpr int kIdLow = 50;
constexpr std::uint8_t kStatusWarm = 0x01;
constexpr std::uint8_t kStatusCartridgeFault = 0x40;

// The odd nozzles each address fires with bit 2j (0: none).
constexpr int kNozzles[22][7] = {
    {1, 45, 89, 133, 177, 221, 265},   {7, 51, 95, 139, 183, 227, 271},
    {13, 57, 101, 145, 189, 233, 277}, {19, 63, 107, 151, 195, 239, 283},
    {25, 69, 113, 157, 201, 245, 289}, {31, 75, 119, 163, 207, 251, 295},
    {37, 81, 125, 169, 213, 257, 0},   {0, 43, 87, 131, 175, 219, 263},
    {5, 49, 93, 137, 181, 225, 269},   {11, 55, 99, 143, 187, 231, 275},
    {17, 61, 105, 149, 193, 237, 281}, {23, 67, 111, 155, 199, 243, 287},
    {29, 73, 117, 161, 205, 249, 293}, {35, 79, 123, 167, 211, 255, 299},
    {0, 41, 85, 129, 173, 217, 261},   {3, 47, 91, 135, 179, 223, 267},
    {9, 53, 97, 141, 185, 229, 273},   {15, 59, 103, 147, 191, 235, 279},
    {21, 65, 109, 153, 197, 241, 285}, {27, 71, 115, 159, 203, 247, 291},
    {33, 77, 121, 165, 209, 253, 297}, {39, 83, 127, 171, 215, 259, 0}};

void AnalogReply(int value, std::vector<std::uint8_t>* reply) {
    reply->assign(8, 0);
    (*reply)[2] = static_cast<std::uint8_t>(kConverted | (value > 255 ? kHighBit : 0));
    (*reply)[3] = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

PrinterModel::PrinterModel(const DeviceProfile& profile)
    : type1_(profile.inkjet1Config.has_value()),
      type2_(!type1_ && profile.inkjet2Config.has_value()),
      type1DotsPerInch_(type1_ ? (*profile.inkjet1Config)[1] : 0),
      settings_(profile.printer),
      inkjetCounter_(profile.inkjetCounter),
      tsr_(profile.printer.tsr) {}

bool PrinterModel::CartridgeWorks() const {
    return !removed_ && settings_.cartridge != CartridgeState::Absent &&
           settings_.cartridge != CartridgeState::Empty;
}

PrinterModel::Take PrinterModel::Accepts(const Paper& paper, std::size_t length,
                                         std::int64_t submittedMs, std::int64_t nowMs) const {
    // The type 1 buffer takes the stamp whole; a device without a TIJ2.5
    // cartridge takes its bulk-out data whole and prints nothing.
    if (!type2_) return Take::Now;
    if (settings_.stallAfterBytes > 0 && data_.size() >= settings_.stallAfterBytes)
        return Take::Later;
    if (!printing_ || !paper.underWay) return Take::Later;
    // One print column per 1/300 inch of paper: a column the paper has not
    // brought under the head yet waits, one past the document never prints.
    const double columns = static_cast<double>((data_.size() + length) / kType2ColumnBytes);
    if (columns > paper.inchesPassed * kType2ColumnsPerInch) return Take::Later;
    if (nowMs - submittedMs < static_cast<std::int64_t>(settings_.slowMs)) return Take::Later;
    return Take::Now;
}

void PrinterModel::TakeData(const std::uint8_t* data, std::size_t length) {
    dataBytes_ += length;
    if (!type1_ && !type2_) return;
    data_.insert(data_.end(), data, data + length);
}

PrintedDocument PrinterModel::Render(const std::vector<std::uint8_t>& data) const {
    PrintedDocument d{
        .start = start_, .second = second_, .density = density_, .fire = fire_, .pixels = {}};
    if (type1_) {
        d.rows = kType1Rows;
        d.columns = static_cast<int>(data.size() / 2);
        d.pixels.assign(static_cast<std::size_t>(d.rows) * d.columns, 255);
        for (int x = 0; x < d.columns; ++x) {
            const int word = data[2 * x] | data[2 * x + 1] << 8;
            for (int k = 0; k < kType1Rows; ++k)
                if ((word >> k & 1) != 0) d.pixels[static_cast<std::size_t>(k) * d.columns + x] = 0;
        }
        return d;
    }
    d.rows = kType2Rows;
    d.columns = static_cast<int>(data.size() / kType2ColumnBytes);
    d.pixels.assign(static_cast<std::size_t>(d.rows) * d.columns, 255);
    for (int x = 0; x < d.columns; ++x) {
        const std::uint8_t* column = data.data() + x * kType2ColumnBytes;
        for (int a = 0; a < 22; ++a) {
            const int word = column[2 * a] | column[2 * a + 1] << 8;
            for (int j = 0; j < 7; ++j) {
                const int nozzle = kNozzles[a][j];
                if (nozzle == 0 || (word >> (2 * j) & 1) == 0) continue;
                d.pixels[static_cast<std::size_t>((nozzle - 1) / 2) * d.columns + x] = 0;
            }
        }
    }
    return d;
}

void PrinterModel::WriteOut(const PrintedDocument& d) const {
    if (settings_.outputDir.empty()) return;
    const std::string base = settings_.outputDir + "/printed_" + std::to_string(printed_.size());
    std::ofstream image(base + ".pgm", std::ios::binary);
    image << "P5\n" << d.columns << " " << d.rows << "\n255\n";
    image.write(reinterpret_cast<const char*>(d.pixels.data()),
                static_cast<std::streamsize>(d.pixels.size()));
    std::ofstream text(base + ".txt");
    text << "start " << d.start << "\nsecond " << d.second << "\ndensity " << d.density << "\nfire "
         << d.fire << "\n";
}

void PrinterModel::FinishDocument(double documentInches) {
    const bool due = type1_ ? powered_ && !data_.empty() : !data_.empty();
    if (!due) return;
    std::vector<std::uint8_t> data = data_;
    if (type1_ && settings_.stallAfterBytes > 0 && data.size() > settings_.stallAfterBytes)
        data.resize(static_cast<std::size_t>(settings_.stallAfterBytes));
    if (type1_ && type1DotsPerInch_ > 0) {
        const auto columns = static_cast<std::size_t>(documentInches * type1DotsPerInch_);
        if (data.size() > 2 * columns) data.resize(2 * columns);
    }
    const bool works = CartridgeWorks();
    if (!works) data.clear();
    lastPrintedBytes_ = static_cast<std::uint32_t>(data.size());
    lastIncomplete_ = !works;
    PrintedDocument d = Render(data);
    printed_.push_back(d);
    WriteOut(d);
    data_.clear();
    if (type1_) powered_ = false;
    if (settings_.removedAfter > 0 && printed_.size() >= settings_.removedAfter) removed_ = true;
}

void PrinterModel::OnReadInkjetCounter(ScannerModel& model, const CommandCall& call) {
    ReplyLe32(model.Printer().inkjetCounter_, call.reply);
}

void PrinterModel::OnIncrementInkjetCounter(ScannerModel& model, const CommandCall&) {
    IncrementCounter(model.Printer().inkjetCounter_);
}

void PrinterModel::OnReadInkjet1Config(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Profile().inkjet1Config.value_or(std::vector<std::uint8_t>(64, 0));
}

void PrinterModel::OnReadInkjet2Config(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Profile().inkjet2Config.value_or(std::vector<std::uint8_t>(64, 0));
}

void PrinterModel::OnPrinterOn(ScannerModel& model, const CommandCall&) {
    model.Printer().powered_ = true;
}

void PrinterModel::OnPrinterOff(ScannerModel& model, const CommandCall&) {
    PrinterModel& p = model.Printer();
    p.powered_ = false;
    p.printing_ = false;
}

void PrinterModel::OnSetUp(ScannerModel& model, const CommandCall& call) {
    PrinterModel& p = model.Printer();
    if (call.data == nullptr) return;
    const std::uint8_t* d = call.data;
    p.start_ = d[0] | d[1] << 8;
    p.density_ = d[2];
    p.fire_ = d[3];
    p.second_ = d[4] | d[5] << 8;
    // A new stamp for the type 1 buffer; a type 2 document starts afresh.
    p.data_.clear();
}

void PrinterModel::OnIdentificationMode(ScannerModel& model, const CommandCall& call) {
    PrinterModel& p = model.Printer();
    call.reply->assign(8, 0);
    p.identificationBit_ = 0;
    const bool present = !p.removed_ && p.settings_.cartridge != CartridgeState::Absent;
    if (present) (*call.reply)[1] = kIdentificationAnswer;
}

void PrinterModel::OnStatus(ScannerModel& model, const CommandCall& call) {
    PrinterModel& p = model.Printer();
    call.reply->assign(8, 0);
    std::uint8_t bits = p.tsr_ > p.settings_.tsr ? kStatusWarm : 0;
    if (!p.CartridgeWorks() && p.settings_.cartridge != CartridgeState::Empty)
        bits |= kStatusCartridgeFault;
    (*call.reply)[1] = bits;
}

void PrinterModel::OnStartPrinting(ScannerModel& model, const CommandCall&) {
    model.Printer().printing_ = true;
}

void PrinterModel::OnStopPrinting(ScannerModel& model, const CommandCall&) {
    model.Printer().printing_ = false;
}

void PrinterModel::OnIdentificationBit(ScannerModel& model, const CommandCall& call) {
    PrinterModel& p = model.Printer();
    const int i = p.identificationBit_++;
    bool high = i > 0 && (p.settings_.cartridgeId >> (i - 1) & 1) != 0;
    if (p.settings_.cartridge == CartridgeState::InvalidId) high = true;
    AnalogReply(high ? kIdHigh : kIdLow, call.reply);
}

void PrinterModel::OnWarmPulses(ScannerModel& model, const CommandCall&) {
    PrinterModel& p = model.Printer();
    p.tsr_ = std::min(p.tsr_ + p.settings_.tsrPerPulse, 511);
}

void PrinterModel::OnCountOrReference(ScannerModel& model, const CommandCall& call) {
    PrinterModel& p = model.Printer();
    if (p.type1_) {
        call.reply->assign(8, 0);
        for (int i = 0; i < 4; ++i)
            (*call.reply)[1 + i] = static_cast<std::uint8_t>(p.lastPrintedBytes_ >> (8 * i));
        return;
    }
    AnalogReply(kAdReference, call.reply);
}

void PrinterModel::OnRx10(ScannerModel& model, const CommandCall& call) {
    const bool wrong = model.Printer().settings_.cartridge == CartridgeState::WrongType;
    AnalogReply(wrong ? kWrongRx10Raw : kRx10Raw, call.reply);
}

void PrinterModel::OnTsr(ScannerModel& model, const CommandCall& call) {
    AnalogReply(model.Printer().tsr_, call.reply);
}

void PrinterModel::OnAmbient(ScannerModel& model, const CommandCall& call) {
    AnalogReply(model.Printer().settings_.ambient, call.reply);
}

void PrinterModel::OnWarmTarget(ScannerModel&, const CommandCall&) {}

void PrinterModel::OnPrintResult(ScannerModel& model, const CommandCall& call) {
    call.reply->assign(8, 0);
    (*call.reply)[1] = model.Printer().lastIncomplete_ ? 1 : 0;
}

}  // namespace kovran::sim
