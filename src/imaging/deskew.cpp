#include "imaging/deskew.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "api/log.h"
#include "imaging/contours.h"
#include "imaging/deskew_state.h"
#include "imaging/record_planes.h"
#include "imaging/stretch.h"

namespace kovran::imaging {

namespace {

using acquisition::DeskewCall;
using acquisition::Mirror;

constexpr double kRadToDeg = 180.0 / CV_PI;
// Rotations this small are below what the eye sees on a cheque; the
// document is only cropped.
constexpr double kLeastCorrectedAngle = 0.5;
constexpr double kShortestTopEdge = 4.0;
constexpr double kDroppedOffset = 0.4;
constexpr double kBorderSpare = 1.4;
constexpr int kSharpenBlur = 15;
constexpr int kSharpenLeast = 150;
constexpr std::uint8_t kStampInk = 50;

// Thrown at the stage that failed; carries the stage's message.
struct StageFailure {
    const char* message;
};

template <class Step>
void Stage(const char* message, Step step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        throw StageFailure{message};
    }
}

struct Corners {
    cv::Point2f topLeft, topRight, bottomRight, bottomLeft;
};

Corners SortCorners(const cv::RotatedRect& rect) {
    // The rectangle's corners come in order around it. The top-left one is
    // the nearest to the image origin; its two neighbours are the top-right
    // and bottom-left ones, whichever lies higher to the right being the
    // top-right. Taking each corner by its own extreme would pick one corner
    // twice for a document turned by 45 degrees, where two corners tie.
    std::array<cv::Point2f, 4> p;
    rect.points(p.data());
    std::size_t first = 0;
    for (std::size_t i = 1; i < p.size(); ++i)
        if (p[i].x + p[i].y < p[first].x + p[first].y) first = i;
    const cv::Point2f& a = p[(first + 1) % 4];
    const cv::Point2f& b = p[(first + 3) % 4];
    const bool aRight = a.y - a.x < b.y - b.x;
    return {p[first], aRight ? a : b, p[(first + 2) % 4], aRight ? b : a};
}

double TopEdgeAngle(const Corners& c) {
    const double dx = c.topRight.x - c.topLeft.x;
    const double dy = c.topRight.y - c.topLeft.y;
    if (std::abs(dx) <= kShortestTopEdge) return 0.0;
    return std::atan(dy / dx) * kRadToDeg;
}

double Distance(cv::Point2f a, cv::Point2f b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

cv::Rect2f BoxOf(const Corners& c, cv::Size image) {
    const float xs[] = {c.topLeft.x, c.topRight.x, c.bottomRight.x, c.bottomLeft.x};
    const float ys[] = {c.topLeft.y, c.topRight.y, c.bottomRight.y, c.bottomLeft.y};
    const float x0 = std::max(0.0f, *std::min_element(std::begin(xs), std::end(xs)));
    const float y0 = std::max(0.0f, *std::min_element(std::begin(ys), std::end(ys)));
    const float x1 =
        std::min(static_cast<float>(image.width), *std::max_element(std::begin(xs), std::end(xs)));
    const float y1 =
        std::min(static_cast<float>(image.height), *std::max_element(std::begin(ys), std::end(ys)));
    return {x0, y0, std::max(1.0f, x1 - x0), std::max(1.0f, y1 - y0)};
}

float DropSmall(float v) {
    return std::abs(v) < kDroppedOffset ? 0.0f : v;
}

cv::Mat GreyOf(const ImageRecord& side) {
    if (side.bytesPerPixel != 3 || side.channels < 3) return ChannelPlane(side, 0);
    cv::Mat grey;
    cv::addWeighted(ChannelPlane(side, 0), 1.0 / 3, ChannelPlane(side, 1), 1.0 / 3, 0, grey);
    cv::addWeighted(grey, 1.0, ChannelPlane(side, 2), 1.0 / 3, 0, grey);
    return grey;
}

// Repeats the search in the image turned upright by the first angle (a
// rectangle found almost level is measured more finely) and gives the
// corners back in the unturned image. The reduced image is turned, about
// the point that stands for its centre.
std::optional<Corners> SearchTurned(const SearchImage& image, double angle,
                                    const ContourSearch& search) {
    const cv::Mat& grey = image.reduced;
    const cv::Point2f centre(grey.cols / 2.0f, grey.rows / 2.0f);
    const cv::Mat turn = cv::getRotationMatrix2D(centre, angle, 1.0);
    SearchImage turned{.reduced = cv::Mat(), .factor = image.factor, .dpi = image.dpi};
    Stage("no memory for rotated image A", [&] {
        cv::warpAffine(grey, turned.reduced, turn, grey.size(), cv::INTER_LINEAR,
                       cv::BORDER_CONSTANT);
    });
    std::optional<cv::RotatedRect> rect;
    Stage("no memory for rotated image B", [&] { rect = FindDocument(turned, search); });
    if (!rect) return std::nullopt;
    // The same turn in full-resolution coordinates: a reduced pixel's
    // centre is the centre of its block.
    const float k = static_cast<float>(image.factor);
    const cv::Point2f fullCentre(centre.x * k + (k - 1.0f) / 2.0f,
                                 centre.y * k + (k - 1.0f) / 2.0f);
    cv::Mat back;
    cv::invertAffineTransform(cv::getRotationMatrix2D(fullCentre, angle, 1.0), back);
    std::array<cv::Point2f, 4> p;
    rect->points(p.data());
    std::vector<cv::Point2f> mapped;
    cv::transform(std::vector<cv::Point2f>(p.begin(), p.end()), mapped, back);
    return SortCorners(cv::minAreaRect(mapped));
}

void MarkStamp(cv::Mat& plane, const DeskewCall::StampMark& stamp) {
    if (stamp.pixels == nullptr || stamp.width <= 0 || stamp.height <= 0 ||
        stamp.stride < stamp.width)
        return;
    // Offsets come from the printer's description: kept wide, so that one
    // far off the image clips to nothing.
    const std::int64_t sx = stamp.anchor == DeskewCall::StampAnchor::Right
                                ? plane.cols - std::int64_t{stamp.x}
                                : stamp.x;
    const std::int64_t sy = stamp.y;
    const std::int64_t x0 = std::max<std::int64_t>(0, sx);
    const std::int64_t y0 = std::max<std::int64_t>(0, sy);
    const std::int64_t x1 = std::min<std::int64_t>(plane.cols, sx + stamp.width);
    const std::int64_t y1 = std::min<std::int64_t>(plane.rows, sy + stamp.height);
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::uint8_t* ink = stamp.pixels + (y - sy) * stamp.stride;
        std::uint8_t* row = plane.ptr(static_cast<int>(y));
        for (std::int64_t x = x0; x < x1; ++x)
            if (ink[x - sx] != 255) row[x] = kStampInk;
    }
}

// The warped planes of a record: its channels, or the one of a backlight.
std::vector<cv::Mat> WarpPlanes(const ImageRecord& record, const cv::Mat& map, cv::Size size,
                                const DeskewCall& call, const char* message) {
    std::vector<cv::Mat> planes(record.channels);
    for (int c = 0; c < record.channels; ++c) {
        Stage(message, [&] {
            cv::warpAffine(ChannelPlane(record, c), planes[static_cast<std::size_t>(c)], map, size,
                           cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        });
        cv::Mat& plane = planes[static_cast<std::size_t>(c)];
        if (call.sharpen && size.width > kSharpenLeast && size.height > kSharpenLeast) {
            Stage("no memory for ImgEnhancement", [&] {
                cv::Mat blurred;
                cv::GaussianBlur(plane, blurred, cv::Size(kSharpenBlur, kSharpenBlur), 0);
                cv::addWeighted(plane, 1.4, blurred, -0.3, 20, plane);
            });
        }
    }
    return planes;
}

bool Store(ImageRecord& record, const std::vector<cv::Mat>& planes, cv::Size size) {
    if (!MakeRoom(record, size.width, size.height)) return false;
    for (std::size_t c = 0; c < planes.size(); ++c)
        StorePlane(record, static_cast<int>(c), planes[c]);
    SetCropped(record, size.width, size.height);
    record.dpiV = record.dpiH;
    return true;
}

bool Fail(std::string* message, const char* text) {
    if (message != nullptr) *message = text;
    LogPair("err - ", text);
    return false;
}

bool DeskewSide(ImageRecord& side, const DeskewCall& call, std::string* message) {
    if (!RecordUsable(side) || side.dpiH == 0 || side.dpiV == 0)
        return Fail(message, "KVXDeskewWrap setting img buffer A");
    if (call.backlight != nullptr &&
        (!RecordUsable(*call.backlight) || call.backlight->width != side.width ||
         call.backlight->Height != side.Height))
        return Fail(message, "KVXDeskewWrap setting img buffer B");
    const std::int64_t squareHeight = std::int64_t{side.Height} * side.dpiH / side.dpiV;
    if (squareHeight < side.Height) {
        LogText("dpiV higher than dpiH");
        return true;
    }
    // The cropped side keeps the square lines: more than a record can count
    // is no image to work on.
    if (squareHeight > std::numeric_limits<std::uint16_t>::max())
        return Fail(message, "KVXDeskewWrap setting img buffer A");
    const int scaledHeight = static_cast<int>(squareHeight);
    // The search runs on square pixels; a side taken at half the vertical
    // resolution is stretched first.
    cv::Mat grey;
    Stage("KVXDeskewWrap setting img buffer A", [&] {
        grey = GreyOf(side);
        if (scaledHeight != side.Height)
            cv::resize(grey, grey, cv::Size(side.width, scaledHeight), 0, 0, cv::INTER_LINEAR);
    });
    const double yScale = static_cast<double>(side.Height) / scaledHeight;
    const ContourSearch search{.microperforation = call.microperforation,
                               .firstPart = call.firstPart};
    SearchImage reduced;
    std::optional<cv::RotatedRect> rect;
    Stage("no memory for gray image", [&] {
        reduced = ReduceForSearch(grey, side.dpiH);
        rect = FindDocument(reduced, search);
    });
    if (!rect) {
        // A side with nothing to crop (no paper, or paper everywhere) is
        // handed over as the sensor saw it.
        LogPair("war - ", "no contour found");
        return true;
    }
    Corners corners = SortCorners(*rect);
    double angle = TopEdgeAngle(corners);
    bool rotate = std::abs(angle) > kLeastCorrectedAngle;
    if (rotate && std::max(rect->size.width, rect->size.height) + 4 <= grey.rows) {
        if (angle < -45) angle += 90;
        if (angle > 45) angle -= 90;
        if (auto turned = SearchTurned(reduced, angle, search)) {
            corners = *turned;
            angle = TopEdgeAngle(corners);
            rotate = std::abs(angle) > kLeastCorrectedAngle;
        }
    }
    for (cv::Point2f* p :
         {&corners.topLeft, &corners.topRight, &corners.bottomRight, &corners.bottomLeft}) {
        p->x = DropSmall(p->x);
        p->y = DropSmall(p->y);
    }
    const cv::Rect2f box = BoxOf(corners, grey.size());
    const double widest = grey.cols - kBorderSpare;
    const double highest = grey.rows - kBorderSpare;
    double width = rotate ? Distance(corners.topLeft, corners.topRight) : box.width;
    double height = rotate ? Distance(corners.topLeft, corners.bottomLeft) : box.height;
    width = std::clamp(width, 1.0, widest);
    height = std::clamp(height, 1.0, highest);
    const bool mirrorX = (static_cast<unsigned>(call.mirror) & 1u) != 0;
    const bool mirrorY = (static_cast<unsigned>(call.mirror) & 2u) != 0;
    auto place = [&](double x, double y, bool mirror) {
        return cv::Point2f(static_cast<float>(mirror && mirrorX ? width - x : x),
                           static_cast<float>(mirror && mirrorY ? height - y : y));
    };
    // Source points in the record's own lines (not the square working copy).
    auto inRecord = [&](cv::Point2f p) {
        return cv::Point2f(p.x, static_cast<float>(p.y * yScale));
    };
    const bool cropOnly = rotate && !call.fullTransform && (side.side == 0 || side.side == 1);
    std::array<cv::Point2f, 3> from;
    std::array<cv::Point2f, 3> to;
    cv::Size size;
    if (rotate && !cropOnly) {
        from = {inRecord(corners.topLeft), inRecord(corners.topRight),
                inRecord(corners.bottomLeft)};
        to = {place(0, 0, true), place(width, 0, true), place(0, height, true)};
        size =
            cv::Size(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
    } else {
        width = std::min<double>(box.width, widest);
        height = std::min<double>(box.height, highest);
        const bool mirror = !cropOnly;
        from = {inRecord(box.tl()), inRecord({box.x + box.width, box.y}),
                inRecord({box.x, box.y + box.height})};
        to = {place(0, 0, mirror), place(box.width, 0, mirror), place(0, box.height, mirror)};
        size =
            cv::Size(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
    }
    size.width = std::max(size.width, 1);
    size.height = std::max(size.height, 1);
    const cv::Mat map = cv::getAffineTransform(from.data(), to.data());

    std::vector<cv::Mat> planes = WarpPlanes(side, map, size, call, "no memory for map A");
    if (call.stamp.pixels != nullptr)
        for (cv::Mat& plane : planes) MarkStamp(plane, call.stamp);
    std::vector<cv::Mat> backlight;
    if (call.backlight != nullptr)
        backlight = WarpPlanes(*call.backlight, map, size, call, "no memory for img B");

    if (!Store(side, planes, size)) return Fail(message, "KVXDeskewWrap setting img buffer A0");
    if (call.backlight != nullptr && !Store(*call.backlight, backlight, size))
        return Fail(message, "KVXDeskewWrap setting img buffer B");
    side.deskewed = !cropOnly;
    if (call.backlight != nullptr) call.backlight->deskewed = side.deskewed;
    if (cropOnly) {
        SideDeskew& state = *DeskewState(side.side);
        auto rel = [&](cv::Point2f p) { return CornerPoint{p.x - box.x, p.y - box.y}; };
        const float w = static_cast<float>(Distance(corners.topLeft, corners.topRight));
        const float h = static_cast<float>(Distance(corners.topLeft, corners.bottomLeft));
        state.source = {rel(corners.topLeft), rel(corners.topRight), rel(corners.bottomRight),
                        rel(corners.bottomLeft)};
        state.destination = {CornerPoint{0, 0}, CornerPoint{w, 0}, CornerPoint{w, h},
                             CornerPoint{0, h}};
        state.width = std::min(static_cast<int>(std::lround(w)), size.width);
        state.height = std::min(static_cast<int>(std::lround(h)), size.height);
        state.flipX = mirrorX;
        state.flipY = mirrorY;
        state.angle = angle;
        state.stored = true;
    }
    return true;
}

bool DeskewHook(ImageRecord& side, const DeskewCall& call, std::string* message) {
    return KVXDeskewWrap(side, call, message);
}

bool FixVResHook(ImageRecord& record, double factor, int spareLines) {
    return KVXFixVRes(&record, factor, spareLines);
}

}  // namespace

bool KVXDeskewWrap(ImageRecord& side, const DeskewCall& call, std::string* message) {
    const bool debug = LogDebug(kDebugScan);
    if (debug) LogText("------------- KVXDeskewWrap start -----------------");
    if (SideDeskew* state = DeskewState(side.side)) *state = {};
    bool ok = false;
    try {
        ok = DeskewSide(side, call, message);
    } catch (const StageFailure& failure) {
        ok = Fail(message, failure.message);
    } catch (const std::bad_alloc&) {
        ok = Fail(message, "no memory for img B");
    } catch (const cv::Exception& e) {
        LogPair("cv::Exception", e.what());
        ok = Fail(message, "KVXDeskewWrapStamp2 exception");
    }
    if (debug) LogText("------------- KVXDeskewWrap end -----------------");
    return ok;
}

acquisition::PostProcessHooks MakePostProcessHooks() {
    return {.deskewWrap = &DeskewHook, .fixVRes = &FixVResHook};
}

}  // namespace kovran::imaging
