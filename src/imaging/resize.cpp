#include "imaging/resize.h"

#include <cstdio>
#include <new>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/deskew_state.h"
#include "imaging/record_planes.h"

namespace kovran::imaging {

namespace {

bool Fail(std::string* message, const std::string& text) {
    if (message != nullptr) *message = text;
    return false;
}

std::string SideText(const char* text, int side) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, text, side);
    return buffer;
}

cv::Point2f PointOf(const CornerPoint& p) {
    return {p.x, p.y};
}

// Carries the side's identity into a derived record.
void DeriveFrom(const ImageRecord& from, ImageRecord& to) {
    to.side = from.side;
    to.bytesPerPixel = from.bytesPerPixel;
    to.dpiH = from.dpiH;
    to.dpiV = from.dpiV;
    to.skewWeight = from.skewWeight;
    to.flags = from.flags;
    to.sensorPixels = 0;
}

void Flip(cv::Mat& plane, bool upDown, bool leftRight) {
    if (upDown && leftRight)
        cv::flip(plane, plane, -1);
    else if (upDown)
        cv::flip(plane, plane, 0);
    else if (leftRight)
        cv::flip(plane, plane, 1);
}

}  // namespace

bool DeskWrapInt(const ImageRecord& record, ImageRecord& temp, int side, std::string* message) {
    const SideDeskew* state = DeskewState(side);
    if (state == nullptr) return Fail(message, "Deskew on invalid side");
    if (!state->stored || state->width <= 0 || state->height <= 0)
        return Fail(message, "DeskWrapInt setting map buffer B");
    if (!RecordUsable(record)) return Fail(message, "DeskWrapInt warpAffine with null buffer");
    const cv::Point2f from[3] = {PointOf(state->source[0]), PointOf(state->source[1]),
                                 PointOf(state->source[3])};
    const cv::Point2f to[3] = {PointOf(state->destination[0]), PointOf(state->destination[1]),
                               PointOf(state->destination[3])};
    std::vector<cv::Mat> planes(record.channels);
    try {
        const cv::Mat map = cv::getAffineTransform(from, to);
        for (int c = 0; c < record.channels; ++c) {
            cv::Mat& plane = planes[static_cast<std::size_t>(c)];
            cv::warpAffine(ChannelPlane(record, c), plane, map,
                           cv::Size(state->width, state->height), cv::INTER_LINEAR,
                           cv::BORDER_CONSTANT);
            Flip(plane, state->flipY, state->flipX);
        }
    } catch (const std::bad_alloc&) {
        return Fail(message,
                    record.channels > 1 ? "no memory for color copy" : "no memory for map B");
    } catch (const cv::Exception&) {
        return Fail(message, "DeskWrapInt warpAffine with null buffer");
    }
    DeriveFrom(record, temp);
    if (!ShapeDerived(temp, state->width, state->height, record.channels))
        return Fail(message, "DeskWrapInt setting img buffer A");
    for (int c = 0; c < record.channels; ++c)
        StorePlane(temp, c, planes[static_cast<std::size_t>(c)]);
    return true;
}

bool KVXResize(const ImageRecord& input, int side, ImageRecord& output,
               const ResizeRequest& request, std::string* message) {
    if (output.data == nullptr) return Fail(message, "KVXResize - NULL output image buffer");
    if (output.width == 0)
        return Fail(message,
                    SideText("KVXResize - null width for output image buffer - side %d", side));
    if (output.Height == 0)
        return Fail(message,
                    SideText("KVXResize - null height for output image buffer - side %d", side));
    if (!RecordUsable(input)) return Fail(message, "KVXResize - allocating image buffer A");
    long long width = output.width;
    long long height = output.Height;
    ImageRecord temp;
    const ImageRecord* source = &input;
    const SideDeskew* state = DeskewState(side);
    if (request.deskew && state != nullptr && state->stored) {
        if (!DeskWrapInt(input, temp, side, message)) return false;
        width = width * temp.width / input.width;
        height = height * temp.Height / input.Height;
        source = &temp;
    }
    if (width < 1 || height < 1)
        return Fail(message,
                    SideText("KVXResize - null width for output image buffer - side %d", side));
    const bool merge = request.greyMerge && source->bytesPerPixel == 3 && source->channels >= 3;
    std::vector<cv::Mat> planes;
    try {
        std::vector<cv::Mat> inputs;
        if (merge) {
            cv::Mat grey;
            cv::addWeighted(ChannelPlane(*source, 0), 1.0 / 3, ChannelPlane(*source, 1), 1.0 / 3, 0,
                            grey);
            cv::addWeighted(grey, 1.0, ChannelPlane(*source, 2), 1.0 / 3, 0, grey);
            inputs.push_back(grey);
        } else {
            for (int c = 0; c < source->channels; ++c) inputs.push_back(ChannelPlane(*source, c));
        }
        const cv::Size size(static_cast<int>(width), static_cast<int>(height));
        for (const cv::Mat& in : inputs) {
            cv::Mat plane;
            if (in.size() == size)
                plane = in.clone();
            else
                cv::resize(in, plane, size, 0, 0, cv::INTER_LINEAR);
            Flip(plane, request.flipUpDown, request.flipLeftRight);
            if (request.transpose) cv::transpose(plane, plane);
            planes.push_back(std::move(plane));
        }
    } catch (const std::bad_alloc&) {
        return Fail(message, "KVXResize - allocating image buffer A");
    } catch (const cv::Exception&) {
        return Fail(message, "KVXResize2 exception");
    }
    const int finalWidth = planes.front().cols;
    const int finalHeight = planes.front().rows;
    if (merge) output.bytesPerPixel = 1;
    if (!ShapeDerived(output, finalWidth, finalHeight, static_cast<int>(planes.size())))
        return Fail(message, "KVXResize2 - allocating image buffer B");
    for (std::size_t c = 0; c < planes.size(); ++c)
        StorePlane(output, static_cast<int>(c), planes[c]);
    return true;
}

}  // namespace kovran::imaging
