#include "decoders/pdf417/high_level.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "api/log.h"

namespace kovran::decoders::pdf417 {

namespace {

constexpr int kFirstModeCodeword = 900;
constexpr int kNumericGroup = 15;
constexpr int kByteGroupCodewords = 5;
constexpr int kByteGroupBytes = 6;
constexpr std::uint64_t kByteGroupLimit = std::uint64_t{1} << 48;
constexpr int kSegmentIndexCodewords = 2;
constexpr char kMixed[] = "0123456789&\r\t,:#-.$/+%*=^";               // values 0 to 24
constexpr char kPunctuation[] = ";<>@[\\]_`~!\r\t,:\n-.$/\"|*()?{}'";  // values 0 to 28

enum class Mode { Text, Byte, Numeric };
enum class Sub { Alpha, Lower, Mixed, Punctuation };

class StreamDecoder {
  public:
    StreamDecoder(std::span<const int> data, std::size_t maxChars) : cw_(data), max_(maxChars) {}

    std::optional<std::string> Run() {
        while (pos_ < cw_.size()) {
            const int c = cw_[pos_];
            const bool ok = c < kFirstModeCodeword ? DataRun() : ModeCodeword(c);
            if (!ok) return std::nullopt;
        }
        return std::move(out_);
    }

  private:
    bool Emit(char c) {
        if (out_.size() >= max_) return false;
        out_.push_back(c);
        return true;
    }
    bool Emit(const char* s) {
        for (; *s != '\0'; ++s)
            if (!Emit(*s)) return false;
        return true;
    }

    // The codewords below 900 from pos_ on.
    std::span<const int> TakeRun() {
        const std::size_t start = pos_;
        while (pos_ < cw_.size() && cw_[pos_] < kFirstModeCodeword) ++pos_;
        return cw_.subspan(start, pos_ - start);
    }

    bool DataRun() {
        switch (mode_) {
            case Mode::Text:
                return TextRun(TakeRun());
            case Mode::Numeric:
                return NumericRun(TakeRun());
            case Mode::Byte:
                return ByteRun(TakeRun());
        }
        return false;
    }

    bool ModeCodeword(int c) {
        const bool first = pos_ == 0;
        ++pos_;
        switch (c) {
            case kLatchText:
                mode_ = Mode::Text;
                sub_ = Sub::Alpha;
                return true;
            case kLatchByte:
            case kLatchByteWhole:
                mode_ = Mode::Byte;
                wholeGroups_ = c == kLatchByteWhole;
                return true;
            case kLatchNumeric:
                mode_ = Mode::Numeric;
                return true;
            case kShiftByte:
                if (mode_ == Mode::Byte) LogText("Shift to Byte while in Byte mode");
                if (pos_ >= cw_.size()) return true;
                if (cw_[pos_] > 0xFF) return false;
                return Emit(static_cast<char>(cw_[pos_++]));
            case kReaderInit:
                if (first) return true;
                LogText("invalid code in pdf");
                return false;
            case kMacroTerminator:
                return Emit("\\922");
            case kMacroOptionalField: {
                if (!Emit("\\923")) return false;
                if (pos_ >= cw_.size()) return true;
                const int field = cw_[pos_++];
                if (!EmitCodeword(field)) return false;
                // File name, sender and addressee are texts; the other
                // fields are numbers.
                mode_ = (field == 0 || field == 3 || field == 4) ? Mode::Text : Mode::Numeric;
                sub_ = Sub::Alpha;
                return true;
            }
            case kEciGeneral:
                return Eci(1, [this] { return cw_[pos_] + 810900; });
            case kEciUser:
                return Eci(2, [this] { return cw_[pos_] * 900 + cw_[pos_ + 1] + 900; });
            case kEciCharacterSet:
                return Eci(1, [this] { return cw_[pos_]; });
            case kMacroControlBlock:
                return MacroControlBlock();
            default:
                LogText("invalid code in pdf");
                return false;
        }
    }

    template <typename Number>
    bool Eci(std::size_t count, Number number) {
        if (pos_ + count > cw_.size()) return false;
        LogValue("PDF417 with GLI", number());
        pos_ += count;
        return true;
    }

    bool EmitCodeword(int value) {
        char text[8];
        std::snprintf(text, sizeof text, "\\%03d", value);
        return Emit(text);
    }

    bool MacroControlBlock() {
        if (!Emit("\\928")) return false;
        long long index = 0;
        for (int k = 0; k < kSegmentIndexCodewords && pos_ < cw_.size(); ++k) {
            if (cw_[pos_] >= kFirstModeCodeword) break;
            index = index * 900 + cw_[pos_++];
        }
        char text[24];
        std::snprintf(text, sizeof text, "%lld", index);
        if (!Emit(text)) return false;
        while (pos_ < cw_.size() && cw_[pos_] != kMacroTerminator &&
               cw_[pos_] != kMacroOptionalField) {
            if (!EmitCodeword(cw_[pos_++])) return false;
        }
        return true;
    }

    // Two values per codeword; a shift lasts one character.
    bool TextRun(std::span<const int> run) {
        for (int c : run) {
            if (!TextValue(c / 30) || !TextValue(c % 30)) return false;
        }
        // A shift left at the end of a run is the padding of an odd count.
        shift_.reset();
        return true;
    }

    bool ShiftError(const char* where) {
        LogText(where);
        return false;
    }

    bool TextValue(int v) {
        if (shift_) {
            const Sub to = *shift_;
            shift_.reset();
            if (to == Sub::Alpha) {
                if (v < 26) return Emit(static_cast<char>('A' + v));
                if (v == 26) return Emit(' ');
                return ShiftError("two Submode Shift or consecutive Latch in text alfa");
            }
            if (v < 29) return Emit(kPunctuation[v]);
            switch (sub_) {
                case Sub::Alpha:
                    return ShiftError("two Submode Shift or consecutive Latch in alpha");
                case Sub::Lower:
                    return ShiftError(
                        "two Submode Shift or consecutive Latch in text punctutation");
                case Sub::Mixed:
                    return ShiftError("two Submode Shift or consecutive Latch in mixed");
                case Sub::Punctuation:
                    return ShiftError("two Submode Shift or consecutive Latch in punctuation");
            }
            return ShiftError("two Submode Shift or consecutive Latch");
        }
        switch (sub_) {
            case Sub::Alpha:
            case Sub::Lower:
                if (v < 26) return Emit(static_cast<char>((sub_ == Sub::Alpha ? 'A' : 'a') + v));
                if (v == 26) return Emit(' ');
                if (v == 27) {
                    if (sub_ == Sub::Alpha)
                        sub_ = Sub::Lower;
                    else
                        shift_ = Sub::Alpha;
                } else if (v == 28) {
                    sub_ = Sub::Mixed;
                } else {
                    shift_ = Sub::Punctuation;
                }
                return true;
            case Sub::Mixed:
                if (v < 25) return Emit(kMixed[v]);
                if (v == 25) sub_ = Sub::Punctuation;
                if (v == 26) return Emit(' ');
                if (v == 27) sub_ = Sub::Lower;
                if (v == 28) sub_ = Sub::Alpha;
                if (v == 29) shift_ = Sub::Punctuation;
                return true;
            case Sub::Punctuation:
                if (v < 29) return Emit(kPunctuation[v]);
                sub_ = Sub::Alpha;
                return true;
        }
        return false;
    }

    // Groups of five codewords are six bytes (base 900 to base 256). After
    // 901 the last group, even a whole one, is one byte per codeword: the
    // encoder latches with 924 when the bytes fill whole groups.
    bool ByteRun(std::span<const int> run) {
        std::size_t groups = run.size() / kByteGroupCodewords;
        if (!wholeGroups_ && groups > 0 && run.size() % kByteGroupCodewords == 0) --groups;
        std::size_t i = 0;
        for (std::size_t g = 0; g < groups; ++g) {
            std::uint64_t value = 0;
            for (int k = 0; k < kByteGroupCodewords; ++k) value = value * 900 + run[i++];
            if (value >= kByteGroupLimit) return false;
            for (int k = kByteGroupBytes - 1; k >= 0; --k)
                if (!Emit(static_cast<char>((value >> (8 * k)) & 0xFF))) return false;
        }
        for (; i < run.size(); ++i) {
            if (run[i] > 0xFF) return false;
            if (!Emit(static_cast<char>(run[i]))) return false;
        }
        return true;
    }

    // Each group of up to fifteen codewords is one base-900 number whose
    // decimal digits follow a leading 1.
    bool NumericRun(std::span<const int> run) {
        for (std::size_t start = 0; start < run.size(); start += kNumericGroup) {
            const std::size_t end = std::min(run.size(), start + kNumericGroup);
            // Little-endian limbs of 10^9.
            std::vector<std::uint32_t> limbs{0};
            for (std::size_t i = start; i < end; ++i) {
                std::uint64_t carry = static_cast<std::uint64_t>(run[i]);
                for (std::uint32_t& limb : limbs) {
                    const std::uint64_t x = std::uint64_t{limb} * 900 + carry;
                    limb = static_cast<std::uint32_t>(x % 1000000000U);
                    carry = x / 1000000000U;
                }
                if (carry != 0) limbs.push_back(static_cast<std::uint32_t>(carry));
            }
            std::string digits = std::to_string(limbs.back());
            for (std::size_t k = limbs.size() - 1; k-- > 0;) {
                char piece[16];
                std::snprintf(piece, sizeof piece, "%09u", limbs[k]);
                digits += piece;
            }
            if (digits.size() < 2 || digits[0] != '1') return false;
            if (!Emit(digits.c_str() + 1)) return false;
        }
        return true;
    }

    std::span<const int> cw_;
    std::size_t max_;
    std::size_t pos_ = 0;
    std::string out_;
    Mode mode_ = Mode::Text;
    Sub sub_ = Sub::Alpha;
    std::optional<Sub> shift_;
    bool wholeGroups_ = false;
};

}  // namespace

std::optional<std::string> DecodeDataCodewords(std::span<const int> data, std::size_t maxChars) {
    for (int c : data)
        if (c < 0 || c > kMacroControlBlock) return std::nullopt;
    return StreamDecoder(data, maxChars).Run();
}

}  // namespace kovran::decoders::pdf417
