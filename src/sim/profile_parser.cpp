#include "sim/profile_parser.h"

#include <fcntl.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <tuple>

#include "platform/file_descriptor.h"
#include "sim/document_source.h"

namespace kovran::sim {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool ParseNumber(std::string_view v, unsigned long long max, unsigned long long* out) {
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        base = 16;
        v.remove_prefix(2);
    }
    if (v.empty()) return false;
    unsigned long long value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, base);
    if (ec != std::errc() || end != v.data() + v.size() || value > max) return false;
    *out = value;
    return true;
}

bool ParseFlag(std::string_view v, bool* out) {
    if (v == "yes" || v == "1" || v == "on" || v == "true") {
        *out = true;
        return true;
    }
    if (v == "no" || v == "0" || v == "off" || v == "false") {
        *out = false;
        return true;
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseBytes(std::string_view v, std::size_t max, std::vector<std::uint8_t>* out,
                std::string* why) {
    out->clear();
    std::size_t i = 0;
    while (i < v.size()) {
        if (v[i] == ' ' || v[i] == '\t') {
            ++i;
            continue;
        }
        if (i + 1 >= v.size() || HexDigit(v[i]) < 0 || HexDigit(v[i + 1]) < 0 ||
            (i + 2 < v.size() && v[i + 2] != ' ' && v[i + 2] != '\t')) {
            *why = "bytes must be two hex digits each, separated by blanks";
            return false;
        }
        if (out->size() == max) {
            *why = "more than " + std::to_string(max) + " bytes";
            return false;
        }
        out->push_back(static_cast<std::uint8_t>(HexDigit(v[i]) * 16 + HexDigit(v[i + 1])));
        i += 2;
    }
    return true;
}

template <std::size_t N>
bool ParseArray(std::string_view v, std::array<std::uint8_t, N>* out, std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (!ParseBytes(v, N, &bytes, why)) return false;
    out->fill(0);
    std::copy(bytes.begin(), bytes.end(), out->begin());
    return true;
}

class SectionParser {
  public:
    explicit SectionParser(DeviceProfile* p) : p_(p) {}

    // Empty when accepted, else the reason.
    std::string Apply(std::string_view key, std::string_view v) {
        if (key != "fault" && key != "feeder" && key != "swipe" &&
            !seen_.insert(std::string(key)).second) {
            return "key \"" + std::string(key) + "\" given twice";
        }
        std::string why;
        unsigned long long n = 0;
        auto number = [&](unsigned long long max, auto* field) {
            if (!ParseNumber(v, max, &n)) {
                why = "\"" + std::string(key) + "\" needs a number up to " + std::to_string(max);
                return;
            }
            *field = static_cast<std::remove_pointer_t<decltype(field)>>(n);
        };
        auto flag = [&](bool* field) {
            if (!ParseFlag(v, field)) why = "\"" + std::string(key) + "\" needs yes or no";
        };
        auto bytes = [&](std::size_t max, std::optional<std::vector<std::uint8_t>>* field) {
            std::vector<std::uint8_t> b;
            if (ParseBytes(v, max, &b, &why)) *field = std::move(b);
        };
        if (key == "name") {
            p_->name = std::string(v);
        } else if (key == "vid") {
            number(0xFFFF, &p_->vid);
        } else if (key == "pid") {
            number(0xFFFF, &p_->pid);
        } else if (key == "serial") {
            p_->serial = std::string(v);
        } else if (key == "serial_descriptor") {
            bytes(kMaxDescriptorBytes, &p_->serialDescriptor);
        } else if (key == "firmware") {
            number(0xFFFF, &p_->firmware);
        } else if (key == "speed") {
            if (v == "high" || v == "full") {
                p_->highSpeed = v == "high";
            } else {
                why = "\"speed\" is high or full";
            }
        } else if (key == "old_request_form") {
            flag(&p_->answersOldForm);
        } else if (key == "location") {
            p_->location = std::string(v);
        } else if (key == "config_word") {
            number(0xFFFFFFFFull, &p_->configWord);
        } else if (key == "config_word2") {
            number(0xFFFF, &p_->configWord2);
        } else if (key == "cis_voltage") {
            number(0xFF, &p_->cisVoltage);
        } else if (key == "config_block") {
            bytes(8, &p_->configBlock);
        } else if (key == "device_config") {
            ParseArray(v, &p_->deviceConfig, &why);
        } else if (key == "micr_block") {
            ParseArray(v, &p_->micrBlock, &why);
        } else if (key == "sensor_options") {
            number(0xFF, &p_->sensorOptions);
        } else if (key == "fw3000_version") {
            std::uint16_t ver = 0;
            number(0xFFFF, &ver);
            if (why.empty()) p_->fw3000Version = ver;
        } else if (key == "hardware_key") {
            std::vector<std::uint8_t> b;
            if (ParseBytes(v, kMaxCommandBytes, &b, &why)) p_->hardwareKey = std::move(b);
        } else if (key == "photo_tuning") {
            ParseArray(v, &p_->photoTuning, &why);
        } else if (key == "inkjet1_config" || key == "inkjet2_config") {
            auto& field = key == "inkjet1_config" ? p_->inkjet1Config : p_->inkjet2Config;
            bytes(64, &field);
            if (why.empty()) field->resize(64, 0);
        } else if (key == "printer_output") {
            p_->printer.outputDir = std::string(v);
        } else if (key == "cartridge") {
            static constexpr std::pair<const char*, CartridgeState> kStates[] = {
                {"ok", CartridgeState::Ok},
                {"absent", CartridgeState::Absent},
                {"empty", CartridgeState::Empty},
                {"wrong_type", CartridgeState::WrongType},
                {"invalid_id", CartridgeState::InvalidId}};
            why = "\"cartridge\" is ok, absent, empty, wrong_type or invalid_id";
            for (const auto& [name, state] : kStates) {
                if (v == name) {
                    p_->printer.cartridge = state;
                    why.clear();
                }
            }
        } else if (key == "cartridge_id") {
            number(0x1FFFFF, &p_->printer.cartridgeId);
        } else if (key == "cartridge_tsr") {
            number(511, &p_->printer.tsr);
        } else if (key == "cartridge_ambient") {
            number(511, &p_->printer.ambient);
        } else if (key == "printer_stall") {
            number(0xFFFFFFFFull, &p_->printer.stallAfterBytes);
        } else if (key == "printer_slow_ms") {
            number(60000, &p_->printer.slowMs);
        } else if (key == "cartridge_removed_after") {
            number(1000000, &p_->printer.removedAfter);
        } else if (key == "eeprom_calibration") {
            flag(&p_->eepromCalibration);
        } else if (key == "eeprom_calibration_size") {
            std::uint32_t size = 0;
            number(0xFFFFFFFFull, &size);
            if (why.empty()) p_->eepromCalibrationSize = size;
        } else if (key == "eeprom_calibration_fail_block") {
            number(0xFFFFFFFFull, &p_->eepromCalibrationFailBlock);
        } else if (key == "page_counter_register") {
            flag(&p_->pageCounterRegister);
        } else if (key == "inkjet_counter_register") {
            flag(&p_->inkjetCounterRegister);
        } else if (key == "page_counter") {
            number(0xFFFFFFFFull, &p_->pageCounter);
        } else if (key == "inkjet_counter") {
            number(0xFFFFFFFFull, &p_->inkjetCounter);
        } else if (key == "external_power") {
            flag(&p_->externalPower);
        } else if (key == "plugged") {
            flag(&p_->plugged);
        } else if (key == "documents" && v.substr(0, 7) == "corpus:") {
            const std::string dir(Trim(v.substr(7)));
            std::string corpusWhy;
            if (dir.empty() || !LoadCorpus(dir, &p_->feeder, &corpusWhy))
                why = "documents: " +
                      (dir.empty() ? std::string("corpus folder missing") : corpusWhy);
        } else if (key == "documents") {
            number(kMaxPlaceholderDocuments, &p_->documents);
        } else if (key == "documents_colour") {
            flag(&p_->documentsColour);
        } else if (key == "documents_seed") {
            number(0xFFFFFFFFull, &p_->documentsSeed);
        } else if (key == "feeder") {
            SimDocument d;
            std::string feederWhy;
            if (ParseFeederLine(v, &d, &feederWhy)) {
                p_->feeder.push_back(std::move(d));
            } else {
                why = feederWhy;
            }
        } else if (key == "aligner") {
            flag(&p_->stream.aligner);
        } else if (key == "stream") {
            if (v == "paced" || v == "free") {
                p_->stream.pace =
                    v == "paced" ? StreamSettings::Pace::Paced : StreamSettings::Pace::FreeRunning;
            } else {
                why = "\"stream\" is paced or free";
            }
        } else if (key == "paper_speed") {
            unsigned ips = 0;
            number(1000, &ips);
            if (why.empty() && ips == 0) why = "\"paper_speed\" needs 1 to 1000 inches per second";
            if (why.empty()) p_->stream.paperInchesPerSecond = ips;
        } else if (key == "sensor_seed") {
            number(0xFFFFFFFFull, &p_->stream.sensor.seed);
        } else if (key == "sensor_gain" || key == "sensor_dark") {
            // Two numbers: the lowest and highest value (gain in percent of
            // full scale, dark offset in raw counts).
            const std::size_t blank = v.find_first_of(" \t");
            unsigned long long lo = 0;
            unsigned long long hi = 0;
            const bool gain = key == "sensor_gain";
            const unsigned long long max = gain ? 100 : 100;
            if (blank == std::string_view::npos ||
                !ParseNumber(Trim(v.substr(0, blank)), max, &lo) ||
                !ParseNumber(Trim(v.substr(blank)), max, &hi) || lo > hi || (gain && lo == 0)) {
                why = "\"" + std::string(key) + "\" needs a lowest and a highest value up to 100";
            } else if (gain) {
                p_->stream.sensor.gainMin = lo / 100.0;
                p_->stream.sensor.gainMax = hi / 100.0;
            } else {
                p_->stream.sensor.darkMin = static_cast<double>(lo);
                p_->stream.sensor.darkMax = static_cast<double>(hi);
            }
        } else if (key == "sensor_noise") {
            number(50, &p_->stream.sensor.noise);
        } else if (key == "sensor_dust") {
            number(64, &p_->stream.sensor.dustSpecks);
        } else if (key == "document_offset") {
            number(3000, &p_->stream.documentOffset300);
        } else if (key == "front_delay") {
            int delay = 0;
            number(3000, &delay);
            p_->stream.frontDelay300 = delay;
        } else if (key == "rear_delay") {
            int delay = 0;
            number(3000, &delay);
            p_->stream.rearDelay300 = delay;
        } else if (key == "lead_gap") {
            number(3000, &p_->stream.leadGap300);
        } else if (key == "background") {
            number(254, &p_->stream.background);
        } else if (key == "bulk_limit") {
            number(1ull << 40, &p_->bulkLimit);
        } else if (key == "transfer_log") {
            if (v.empty()) why = "\"transfer_log\" needs a path";
            p_->transferLog = std::string(v);
        } else if (key == "stripe_reader") {
            flag(&p_->stripeReader);
        } else if (key == "double_feed") {
            // "2 5:13": documents 2 (all sensors) and 5 (sensors 1 and 3).
            std::string_view rest = v;
            while (why.empty() && !rest.empty()) {
                const std::size_t blank = rest.find(' ');
                const std::string_view item = rest.substr(0, blank);
                rest = blank == std::string_view::npos ? "" : Trim(rest.substr(blank + 1));
                const std::size_t colon = item.find(':');
                DeviceProfile::DoubleFeed d;
                unsigned long long at = 0;
                const std::string position(item.substr(0, colon));
                if (!ParseNumber(position, 0xFFFFFFFFull, &at) || at == 0 ||
                    (colon != std::string_view::npos &&
                     !ParseDoubleSheetSensors(item.substr(colon + 1), &d.sensors))) {
                    why =
                        "\"double_feed\" lists documents from 1, each optionally :sensors (1 to 3)";
                    break;
                }
                d.document = static_cast<unsigned>(at);
                p_->doubleFeeds.push_back(d);
            }
        } else if (key == "buzzer_log") {
            if (v.empty()) why = "\"buzzer_log\" needs a path";
            p_->buzzerLog = std::string(v);
        } else if (key == "swipe") {
            std::string swipeWhy;
            if (auto s = ParseSwipe(v, &swipeWhy)) {
                p_->swipes.push_back(*s);
            } else {
                why = "swipe: " + swipeWhy;
            }
        } else if (key == "fault") {
            std::string faultWhy;
            if (auto f = ParseFault(v, &faultWhy)) {
                p_->faults.push_back(*f);
            } else {
                why = "fault: " + faultWhy;
            }
        } else {
            why = "unknown key \"" + std::string(key) + "\"";
        }
        return why;
    }

  private:
    DeviceProfile* p_;
    std::set<std::string> seen_;
};

std::string At(std::size_t line, const std::string& why) {
    return "line " + std::to_string(line) + ": " + why;
}

}  // namespace

bool ParseProfiles(std::string_view text, std::vector<DeviceProfile>* devices, std::string* error) {
    std::string scratch;
    std::string& err = error ? *error : scratch;
    devices->clear();
    if (text.size() > kMaxProfileFileBytes) {
        err = "profile larger than 1 MiB";
        return false;
    }
    if (text.find('\0') != std::string_view::npos) {
        err = "profile holds a NUL byte";
        return false;
    }
    std::vector<DeviceProfile> out;
    std::vector<std::size_t> sectionLines;
    std::optional<SectionParser> section;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (raw.size() > kMaxProfileLineBytes) {
            err = At(lineNo, "line longer than 4096 bytes");
            return false;
        }
        std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line != "[device]") {
                err = At(lineNo, "unknown section " + std::string(line));
                return false;
            }
            if (out.size() == kMaxProfileDevices) {
                err = At(lineNo, "more than 16 devices");
                return false;
            }
            out.emplace_back();
            sectionLines.push_back(lineNo);
            section.emplace(&out.back());
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            err = At(lineNo, "expected \"key = value\"");
            return false;
        }
        if (!section) {
            err = At(lineNo, "key outside a [device] section");
            return false;
        }
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty()) {
            err = At(lineNo, "missing key");
            return false;
        }
        std::string why = section->Apply(key, value);
        if (!why.empty()) {
            err = At(lineNo, why);
            return false;
        }
    }
    if (out.empty()) {
        err = "no [device] section";
        return false;
    }
    std::set<std::string> locations;
    std::set<std::tuple<std::uint16_t, std::uint16_t, std::string>> paths;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::string why = ValidateProfile(out[i]);
        if (why.empty() && !out[i].location.empty() && !locations.insert(out[i].location).second) {
            why = "location " + out[i].location + " used twice";
        }
        // A device left without a location sits at "1-<position>"; another of
        // the same VID and PID given that location would share its path, and
        // only one of the two could ever be opened.
        const std::string location =
            out[i].location.empty() ? "1-" + std::to_string(i + 1) : out[i].location;
        if (why.empty() && !paths.insert({out[i].vid, out[i].pid, location}).second) {
            why = "location " + location + " used twice for the same VID and PID";
        }
        if (!why.empty()) {
            err = At(sectionLines[i], why);
            return false;
        }
    }
    *devices = std::move(out);
    return true;
}

bool LoadProfileFile(const std::string& path, std::vector<DeviceProfile>* devices,
                     std::string* error) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    if (!platform::ReadAllBytes(fd.get(), kMaxProfileFileBytes, text)) {
        if (error)
            *error = path + ": " + (errno == EFBIG ? "larger than 1 MiB" : std::strerror(errno));
        return false;
    }
    std::string why;
    if (!ParseProfiles(text, devices, &why)) {
        if (error) *error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace kovran::sim
