// The TIJ2.5 cartridge of a type 2 printer: its identification through the
// analog channels, the ambient temperature, the warm-up before each print
// and the status word.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "api/log.h"
#include "api/settings.h"
#include "inkjet/printer.h"
#include "platform/clock.h"

namespace kovran::inkjet {

namespace {

constexpr unsigned kReplyBytes = 8;
constexpr std::uint8_t kIdentificationAnswer = 17;
constexpr int kAdReferenceLow = 135;
constexpr int kAdReferenceHigh = 141;
constexpr double kRx10Low = 260;
constexpr double kRx10High = 360;
constexpr int kIdentificationReads = 22;
constexpr std::uint32_t kIdentificationMask = 0x1FFFFF;  // 21 bits
constexpr std::uint32_t kInvalidCartridgeId = 0x1FFFFF;
constexpr double kAdOffset = 319.375;
constexpr int kWarmCount = 340;
constexpr int kWarmEnough = 338;
constexpr int kTargetLimit = 512;
constexpr int kWarmUnitMs = 100;
constexpr int kLongestWarmUnits = std::numeric_limits<int>::max() / kWarmUnitMs;

// An analog reply: bit 2 of the flags says the conversion completed; the
// value is byte 3 plus 256 with bit 7 of the flags.
struct Analog {
    bool read = false;
    bool completed = false;
    int value = 0;
};

Analog ReadAnalog(std::uint8_t command, std::uint8_t channel) {
    std::uint8_t reply[kReplyBytes] = {channel};
    Analog a;
    a.read = CommandIn(command, reply, sizeof reply);
    a.completed = a.read && (reply[2] & 0x04) != 0;
    a.value = reply[3] + ((reply[2] & 0x80) != 0 ? 256 : 0);
    return a;
}

bool ReadCompleted(std::uint8_t command, std::uint8_t channel, const char* incomplete, int* value) {
    const Analog a = ReadAnalog(command, channel);
    if (!a.completed) {
        LogPair("err - ", incomplete);
        return false;
    }
    *value = a.value;
    return true;
}

bool Identify(PrinterRecord& p) {
    std::uint8_t reply[kReplyBytes] = {};
    if (!CommandIn(kIdentificationMode, reply, sizeof reply) || reply[1] != kIdentificationAnswer) {
        LogPair("err - ", "DevID - identification mode refused");
        return false;
    }
    int ad = 0;
    if (!ReadCompleted(kPrintedCountOrAdReference, 0, "AD_REF - AD convertion not completed", &ad))
        return false;
    p.adReference = ad;
    if (ad < kAdReferenceLow || ad > kAdReferenceHigh) {
        LogPairValue("err - ", "AD_4", ad);
        return false;
    }
    int raw = 0;
    if (!ReadCompleted(kInformation1OrRx10, 2, "Rx10 - AD convertion not completed", &raw))
        return false;
    p.rx10Raw = raw;
    const double rx10 = (raw + kAdOffset) * 285.7142857 / (ad + kAdOffset);
    if (rx10 < kRx10Low || rx10 > kRx10High) {
        LogPairValue("err - ", "Rx10 is out of range", static_cast<int>(rx10));
        return false;
    }
    std::uint32_t id = 0;
    for (int i = 0; i < kIdentificationReads; ++i) {
        std::uint8_t bit[kReplyBytes] = {};
        if (!CommandIn(kNextIdentificationBit, bit, sizeof bit)) return false;
        if (std::memcmp(bit + 1, "invalid", 7) == 0) {
            LogPair("err - ", "DevID - invalid row");
            return false;
        }
        const std::uint32_t word =
            bit[1] | bit[2] << 8 | bit[3] << 16 | static_cast<std::uint32_t>(bit[4]) << 24;
        if ((word & (1u << 10)) == 0) {
            LogPair("err - ", "DevID - AD convertion not completed");
            return false;
        }
        const int v = bit[3] + ((bit[2] & 0x80) != 0 ? 256 : 0);
        id >>= 1;
        if (v > raw * 0.8) id |= 1u << 20;
    }
    id &= kIdentificationMask;
    if (id == kInvalidCartridgeId) {
        LogPairValue("err - ", "invalid cartridgeID", static_cast<int>(id));
        return false;
    }
    if (!p.cartridgeIdKnown || id != p.cartridgeId) LogValue("cartridgeID", static_cast<int>(id));
    p.cartridgeId = id;
    p.cartridgeIdKnown = true;
    return true;
}

void MeasureAmbient(PrinterRecord& p) {
    if (p.ambientKnown) return;
    int reading = 0;
    if (!ReadCompleted(kAmbient, 1, "TAmb - AD convertion not completed", &reading)) return;
    const double d = reading - p.adReference;
    const double root = d * 74.96 / 375 + 62;
    if (root < 0) return;
    double t = (std::sqrt(root) - 7.874) * 1000 / 37.48 + 25;
    LogValue("TAmb0", static_cast<int>(t));
    if (t > kAmbientMaximum) {
        t = kAmbientMaximum;
        LogValue("TAmb0", static_cast<int>(t));
    }
    p.ambient = t;
    p.ambientKnown = true;
}

std::uint16_t CountT(const PrinterRecord& p, int tsr) {
    const double ambient = p.ambientKnown ? p.ambient : kAmbientMaximum;
    const double v = std::pow(1.00365, 85 - ambient) * (tsr + kAdOffset) - kAdOffset;
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(std::trunc(v)));
}

bool ReadTsr(PrinterRecord& p) {
    return ReadCompleted(kTsr, 3, "TSR - AD convertion not completed", &p.tsr);
}

}  // namespace

bool CheckCartridge() {
    PrinterRecord& p = Printer();
    Command(kPrinterOn);
    Command(kStopPrinting);
    const bool identified = Identify(p);
    Command(kPrinterOff);
    p.powered = false;
    if (!identified) {
        p.cartridgeOk = false;
        LogPair("err - ", "missing or not functioning cartridge");
        return false;
    }
    p.cartridgeOk = true;
    p.cartridgeChecked = true;
    MeasureAmbient(p);
    return true;
}

bool WarmUp() {
    PrinterRecord& p = Printer();
    if (!p.powered) {
        if (!Command(kPrinterOn)) return false;
        p.powered = true;
    }
    if (!ReadTsr(p)) return false;
    int cntT = CountT(p, p.tsr);
    // The ini's least warm-up, in 100 ms units, kept where its milliseconds
    // still fit an int.
    const int minimum = std::clamp(Settings().scan.msecWarmTot, 0, kLongestWarmUnits);
    const int units = std::max(cntT <= kWarmCount ? kWarmCount - cntT : 0, minimum);
    LogValue("cntT", cntT);
    LogValue("msecWarmTot", units * kWarmUnitMs);
    const int target = std::max(cntT, kWarmCount);
    if (target >= kTargetLimit) {
        Command(kStopPrinting);
        Command(kPrinterOff);
        p.powered = false;
        return false;
    }
    const std::uint8_t warm[3] = {static_cast<std::uint8_t>((2 * target) & 0xFF),
                                  static_cast<std::uint8_t>(124 + (target >> 7)), 0};
    if (!CommandOut(kWarmTarget, warm, sizeof warm)) return false;
    Command(kWarmPulses);
    int remaining = kWarmUnitMs * units;
    while (remaining > 0) {
        const int pause = std::min(remaining, kWarmStepMs);
        platform::Sleep(static_cast<unsigned>(pause));
        if (pause >= remaining) break;
        const bool read = ReadTsr(p);
        Command(kWarmPulses);
        remaining -= kWarmStepMs;
        if (read) {
            cntT = CountT(p, p.tsr);
            char line[96];
            std::snprintf(line, sizeof line, "AD_3\t%d\tcntT\t%d\tmsecWarmDelta\t%d", p.tsr, cntT,
                          kWarmStepMs);
            LogText(line);
            if (cntT > kWarmEnough) break;
        }
    }
    p.warm = true;
    return true;
}

bool CheckStatusWord(std::uint8_t command) {
    std::uint8_t reply[kReplyBytes] = {};
    if (!CommandIn(command, reply, sizeof reply)) return false;
    struct Fault {
        std::uint8_t bit;
        const char* text;
    };
    static constexpr Fault kFaults[] = {{0x02, "TIJ2.5 hot"},
                                        {0x20, "TIJ2.5 rshort"},
                                        {0x40, "TIJ2.5 cfault"},
                                        {0x10, "TIJ2.5 overV"},
                                        {0x08, "TIJ2.5 underV"}};
    for (const Fault& f : kFaults) {
        if ((reply[1] & f.bit) != 0) {
            LogPair("err - ", f.text);
            return false;
        }
    }
    if ((reply[1] & 0x01) != 0) LogText("TIJ2.5 warm");
    return true;
}

}  // namespace kovran::inkjet
