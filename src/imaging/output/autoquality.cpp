#include "imaging/output/autoquality.h"

#include <algorithm>
#include <cstdio>

#include "api/ini_settings.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"

namespace kovran::imaging::output {

namespace {

struct Window {
    int quality = 0;
    long long lo = 0;
    long long hi = 0;
};

std::optional<Window> SideWindow(int side) {
    const ScanSettings& s = Settings().scan;
    switch (side) {
        case 0:
            return Window{s.qualityR, s.kbMinR * 1024LL, s.kbMaxR * 1024LL};
        case 1:
            return Window{s.qualityF, s.kbMinF * 1024LL, s.kbMaxF * 1024LL};
        case 2:
            return Window{s.qualityB, s.kbMinB * 1024LL, s.kbMaxB * 1024LL};
        default:
            return std::nullopt;
    }
}

const char kSideLetter[] = {'R', 'F', 'B'};

int Clamp99(long long q) {
    return static_cast<int>(std::clamp<long long>(q, 1, 99));
}

void WriteDebugCopy(int side, const Bytes& image) {
    const OcrSettings& ocr = Settings().ocr;
    const std::string& name = AutoQualityState().iqaName;
    if (!ocr.debugImg || image.empty() || name.empty()) return;
    char path[600];
    std::snprintf(path, sizeof path, "%s/%s%c.jpg", ocr.debugImgPath.c_str(), name.c_str(),
                  kSideLetter[side]);
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return;
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
}

}  // namespace

AutoQualityRecord& AutoQualityState() {
    return lib().Get<AutoQualityRecord>();
}

AutoQualityResult AutoQuality(int side, const QualityEncoder& encode) {
    AutoQualityResult out;
    if (AutoQualityState().iqaCheckState < kIqaCheckActive) {
        const int q = std::clamp(IniAutoquality(), 1, 100);
        LogValue("ignoring QUALITY_ITA_CHECK, using", q);
        std::optional<Bytes> image = encode(q);
        if (!image) {
            LogPair("err - ", "EncodeImage returns NULL Pointer");
            out.result = KVX_ERR_GENERIC;
            return out;
        }
        out.image = std::move(*image);
        out.quality = q;
        return out;
    }
    const std::optional<Window> window = SideWindow(side);
    if (!window) {
        LogPair("err - ", "ImageSave with invalid quality or side");
        out.result = KVX_ERR_INV_PARAMETER;
        return out;
    }
    long long lo = window->lo;
    long long hi = window->hi;
    if (hi - lo > 6144) {
        lo += 3072;
        hi -= 3072;
    }
    int q = std::clamp(window->quality, 1, 100);
    int qmin = 100;
    int qmax = 0;
    int attempts = 0;
    std::optional<Bytes> image = encode(q);
    char line[200];
    while (true) {
        if (!image) {
            LogPair("err - ", "EncodeImage returns NULL Pointer");
            out.result = KVX_ERR_GENERIC;
            return out;
        }
        const long long n = static_cast<long long>(image->size());
        long long next = q;
        if (n > hi) {
            qmin = std::min(qmin, q);
            if (q == 1) {
                LogText("autoquality stopped, quality 1 reached");
                break;
            }
            next = n > 0 ? ((lo + hi) / 2) * q / n : q;
            if (next >= q) next = q - 1;
        } else if (n >= lo) {
            if (LogDebug(kDebugRetrieval)) {
                std::snprintf(line, sizeof line, "auto quality\t%c\t%02d\t%d\t%d",
                              kSideLetter[side], q, static_cast<int>(n / 1024), attempts);
                LogText(line);
            }
            break;
        } else {
            qmax = std::max(qmax, q);
            if (q == 99) {
                std::snprintf(line, sizeof line,
                              "side %d, autoquality stopped, quality 99 reached after %d "
                              "attempts, finale size is %dK",
                              side, attempts, static_cast<int>(n / 1000));
                LogText(line);
                break;
            }
            next = n > 0 ? static_cast<long long>(q) * lo / n : q + 1;
            if (next <= q) next = q + 1;
        }
        next = Clamp99(next);
        if (next > qmin)
            next = Clamp99((q + qmin) / 2);
        else if (next < qmax)
            next = Clamp99((q + qmax) / 2);
        if (attempts > 9) {
            std::snprintf(line, sizeof line,
                          "side %d, autoquality stopped after %d attempts, finale size is %dK",
                          side, attempts, static_cast<int>(n / 1000));
            LogText(line);
            break;
        }
        ++attempts;
        q = static_cast<int>(next);
        image = encode(q);
    }
    out.image = std::move(*image);
    out.quality = q;
    out.attempts = attempts;
    WriteDebugCopy(side, out.image);
    std::snprintf(line, sizeof line, "autoquality - side %d, %d attempts, size %dK", side, attempts,
                  static_cast<int>(out.image.size() / 1000));
    LogText(line);
    return out;
}

}  // namespace kovran::imaging::output
