#include "decoders/datamatrix/encodation.h"

#include <cstddef>

namespace kovran::decoders::datamatrix {

namespace {

enum class Mode { Ascii, C40, Text, X12, Edifact, Base256, Done };

constexpr char kShift2Set[] = "!\"#$%&'()*+,-./:;<=>?@[\\]^_";

class Decoder {
  public:
    explicit Decoder(std::span<const std::uint8_t> data) : data_(data) {}

    std::optional<std::string> Run() {
        Mode mode = Mode::Ascii;
        while (mode != Mode::Done && pos_ < data_.size() && ok_) {
            switch (mode) {
                case Mode::Ascii:
                    mode = Ascii();
                    break;
                case Mode::C40:
                case Mode::Text:
                    mode = C40Text(mode);
                    break;
                case Mode::X12:
                    mode = X12();
                    break;
                case Mode::Edifact:
                    mode = Edifact();
                    break;
                case Mode::Base256:
                    mode = Base256();
                    break;
                case Mode::Done:
                    break;
            }
        }
        if (!ok_) return std::nullopt;
        return header_ + text_;
    }

  private:
    void Put(int value) {
        if (upperShift_) value += 128;
        upperShift_ = false;
        text_.push_back(static_cast<char>(value));
    }

    Mode Ascii() {
        const int c = data_[pos_++];
        if (c >= 1 && c <= 128) {
            Put(c - 1);
        } else if (c == 129) {
            return Mode::Done;  // pad: the data ends here
        } else if (c <= 229 && c >= 130) {
            const int pair = c - 130;
            Put('0' + pair / 10);
            Put('0' + pair % 10);
        } else {
            switch (c) {
                case 230:
                    return Mode::C40;
                case 231:
                    return Mode::Base256;
                case 232:
                    Put(kFnc1Byte);
                    break;
                case 233:
                    pos_ += 3;
                    break;  // structured append: position and file id
                case 234:
                    break;  // reader programming
                case 235:
                    upperShift_ = true;
                    break;
                case 236:
                    header_ = kMacro05Header;
                    break;
                case 237:
                    header_ = kMacro06Header;
                    break;
                case 238:
                    return Mode::X12;
                case 239:
                    return Mode::Text;
                case 240:
                    return Mode::Edifact;
                case 241:
                    SkipEci();
                    break;
                default:
                    ok_ = false;
                    break;
            }
        }
        return Mode::Ascii;
    }

    // ECI designators take one to three codewords; the bytes that follow
    // are returned as they are.
    void SkipEci() {
        if (pos_ >= data_.size()) return;
        const int first = data_[pos_++];
        if (first >= 128) pos_ += first >= 192 ? 2 : 1;
    }

    // Two codewords carry three values; 254 in place of the first returns
    // to ASCII, and so does a lone last codeword.
    bool NextTriple(int values[3]) {
        if (pos_ + 1 >= data_.size() || data_[pos_] == 254) {
            if (pos_ < data_.size() && data_[pos_] == 254) ++pos_;
            return false;
        }
        const int v = data_[pos_] * 256 + data_[pos_ + 1] - 1;
        pos_ += 2;
        values[0] = v / 1600;
        values[1] = (v / 40) % 40;
        values[2] = v % 40;
        return true;
    }

    Mode C40Text(Mode mode) {
        int values[3];
        int shift = 0;
        while (ok_ && NextTriple(values)) {
            for (int value : values) {
                if (value >= 40) {
                    ok_ = false;
                    return Mode::Done;
                }
                switch (shift) {
                    case 0:
                        if (value < 3) {
                            shift = value + 1;
                            continue;
                        }
                        if (value == 3)
                            Put(' ');
                        else if (value < 14)
                            Put('0' + value - 4);
                        else
                            Put((mode == Mode::C40 ? 'A' : 'a') + value - 14);
                        break;
                    case 1:
                        Put(value);
                        break;
                    case 2:
                        if (value < 27)
                            Put(kShift2Set[value]);
                        else if (value == 27)
                            Put(kFnc1Byte);
                        else if (value == 30)
                            upperShift_ = true;
                        else
                            ok_ = false;
                        break;
                    default:
                        if (mode == Mode::C40) {
                            Put(value + 96);
                        } else if (value == 0) {
                            Put('`');
                        } else if (value <= 26) {
                            Put('A' + value - 1);
                        } else if (value <= 31) {
                            Put("{|}~\x7f"[value - 27]);
                        } else {
                            ok_ = false;
                        }
                        break;
                }
                shift = 0;
            }
        }
        return Mode::Ascii;
    }

    Mode X12() {
        int values[3];
        while (ok_ && NextTriple(values)) {
            for (int value : values) {
                if (value == 0)
                    Put('\r');
                else if (value == 1)
                    Put('*');
                else if (value == 2)
                    Put('>');
                else if (value == 3)
                    Put(' ');
                else if (value < 14)
                    Put('0' + value - 4);
                else if (value < 40)
                    Put('A' + value - 14);
                else
                    ok_ = false;
            }
        }
        return Mode::Ascii;
    }

    Mode Edifact() {
        while (pos_ + 2 < data_.size()) {
            const int bits = (data_[pos_] << 16) | (data_[pos_ + 1] << 8) | data_[pos_ + 2];
            pos_ += 3;
            for (int i = 0; i < 4; ++i) {
                int value = (bits >> (18 - 6 * i)) & 0x3F;
                if (value == 0x1F) {
                    // Unlatch: the rest of this codeword triple is padding;
                    // ASCII resumes at the first codeword after the value.
                    const std::size_t used = (6 * (i + 1) + 7) / 8;
                    pos_ -= 3 - used;
                    return Mode::Ascii;
                }
                if ((value & 0x20) == 0) value |= 0x40;
                Put(value);
            }
        }
        return Mode::Ascii;
    }

    int Unrandomised() {
        const int position = static_cast<int>(pos_) + 1;
        const int pseudo = ((149 * position) % 255) + 1;
        const int value = data_[pos_++] - pseudo;
        return value < 0 ? value + 256 : value;
    }

    Mode Base256() {
        if (pos_ >= data_.size()) return Mode::Done;
        const int first = Unrandomised();
        std::size_t length;
        if (first == 0) {
            length = data_.size() - pos_;
        } else if (first < 250) {
            length = static_cast<std::size_t>(first);
        } else {
            if (pos_ >= data_.size()) {
                ok_ = false;
                return Mode::Done;
            }
            length = 250 * static_cast<std::size_t>(first - 249) + Unrandomised();
        }
        if (length > data_.size() - pos_) {
            ok_ = false;
            return Mode::Done;
        }
        for (std::size_t i = 0; i < length; ++i) Put(Unrandomised());
        return Mode::Ascii;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
    bool upperShift_ = false;
    std::string header_;
    std::string text_;
};

}  // namespace

std::optional<std::string> DecodeData(std::span<const std::uint8_t> data) {
    return Decoder(data).Run();
}

}  // namespace kovran::decoders::datamatrix
