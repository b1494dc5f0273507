#include "imaging/retrieval/blank_page.h"

#include <algorithm>

#include "acquisition/images.h"
#include "api/log.h"
#include "imaging/record_planes.h"

namespace kovran::imaging::retrieval {

namespace {

// The sensor's dark border: pixels at or below this are not the page.
constexpr int kBorderLevel = 100;

KVXResult Refuse(const char* text) {
    LogPair("err - ", text);
    return KVX_ERR_INV_PARAMETER;
}

}  // namespace

KVXResult PageBlank(const ImageRecord& record, int pixThreshold, int darkLevel) {
    const int t = record.dpiV / 3;
    int firstLine = 0;
    int lines = record.Height;
    if (record.Height > 4 * t) {
        firstLine = t;
        lines = record.Height - 2 * t;
    }
    const int margin = record.dpiH / 3;
    int firstColumn = 0;
    int columns = record.width;
    if (record.width > record.dpiH) {
        firstColumn = margin;
        columns = record.width - 2 * margin;
    }
    const long long allowance =
        std::max<long long>(1, static_cast<long long>(pixThreshold) * columns / 1000);
    for (int c = 0; c < record.bytesPerPixel; ++c) {
        for (int y = firstLine; y < firstLine + lines; ++y) {
            const std::uint8_t* p = record.data +
                                    static_cast<std::ptrdiff_t>(record.top + y) * record.stride +
                                    c * record.channelPitch + record.left + firstColumn;
            int from = 0;
            int to = columns;
            while (from < to && p[from] <= kBorderLevel) ++from;
            while (to > from && p[to - 1] <= kBorderLevel) --to;
            long long dark = 0;
            for (int x = from; x < to; ++x)
                if (p[x] < darkLevel) ++dark;
            if (dark > allowance) return KVX_OK;
        }
    }
    return KVX_WAR_BLANK_PAGE;
}

KVXResult IsPageBlank(int side, int pixThreshold, int darkLevel) {
    const ImagesRecord& images = acquisition::Images();
    if (side == 8) side = images.otherSide;
    if (side == 9) side = images.codelineSide;
    if (side != kRear && side != kFront) return Refuse("IsPageBlank - invalid side");
    if (pixThreshold < 0 || pixThreshold > 100)
        return Refuse("IsPageBlank - invalid  PixThreshold");
    if (darkLevel < 0 || darkLevel > 255) return Refuse("IsPageBlank - invalid  PixThreshold");
    const ImageRecord& record = images.myImg[static_cast<std::size_t>(side)];
    if (record.data == nullptr || !record.enabled || record.Height == 0 || record.width == 0 ||
        !RecordUsable(record))
        return Refuse("IsPageBlank - no data");
    return PageBlank(record, pixThreshold, darkLevel);
}

}  // namespace kovran::imaging::retrieval
