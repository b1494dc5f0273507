#include "imaging/record_planes.h"

#include <cstring>
#include <limits>

namespace kovran::imaging {

namespace {

constexpr int kMaxRecordChannels = 5;  // R, G, B, infrared, ultraviolet
constexpr int kMaxDimension = std::numeric_limits<std::uint16_t>::max();

// A record that names its sensor's pixels (the acquired sides; derived
// records do not) holds width pixels from left inside them.
bool WithinSensor(const ImageRecord& record, int width) {
    return record.sensorPixels == 0 ||
           static_cast<std::size_t>(record.left) + static_cast<std::size_t>(width) <=
               record.sensorPixels;
}

}  // namespace

std::size_t RecordCapacity(const ImageRecord& record) {
    if (record.data == nullptr) return 0;
    if (record.alloc) {
        const std::uint8_t* begin = record.alloc->Bytes();
        const std::uint8_t* end = begin + record.alloc->Size();
        if (record.data < begin || record.data >= end) return 0;
        return static_cast<std::size_t>(end - record.data);
    }
    const int top = record.top < 0 ? 0 : record.top;
    return static_cast<std::size_t>(top + record.Height) * record.stride;
}

bool RecordUsable(const ImageRecord& record) {
    if (record.data == nullptr || record.width == 0 || record.Height == 0) return false;
    if (record.channels < 1 || record.channels > kMaxRecordChannels) return false;
    if (record.top < 0 || record.left < 0) return false;
    const std::size_t pitch = record.channelPitch;
    if (pitch < static_cast<std::size_t>(record.left) + record.width) return false;
    // A side's pixels end with its sensor: past them lie the other side's
    // pixels of a shared line (or the next channel line), never this side's.
    if (!WithinSensor(record, record.width)) return false;
    if (record.stride < pitch * record.channels) return false;
    const std::size_t lastLine = static_cast<std::size_t>(record.top) + record.Height - 1;
    const std::size_t end = lastLine * record.stride + (record.channels - 1) * pitch +
                            static_cast<std::size_t>(record.left) + record.width;
    return end <= RecordCapacity(record);
}

cv::Mat ChannelPlane(const ImageRecord& record, int channel) {
    std::uint8_t* first = record.data + static_cast<std::size_t>(record.top) * record.stride +
                          static_cast<std::size_t>(channel) * record.channelPitch + record.left;
    return cv::Mat(record.Height, record.width, CV_8UC1, first, record.stride);
}

int PaddedPitch(int width) {
    return (width + 7) / 8 * 8;
}

bool MakeRoom(ImageRecord& record, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
    // In place the side keeps its own columns: on devices that deliver both
    // sides in one stream the other side's pixels share these lines.
    if (record.data != nullptr && record.left >= 0 && WithinSensor(record, width) &&
        static_cast<std::size_t>(record.channelPitch) >=
            static_cast<std::size_t>(record.left) + static_cast<std::size_t>(width)) {
        const std::size_t end = static_cast<std::size_t>(height - 1) * record.stride +
                                (record.channels - 1u) * record.channelPitch +
                                static_cast<std::size_t>(record.left) + width;
        if (end <= RecordCapacity(record)) return true;
    }
    const std::size_t pitch = static_cast<std::size_t>(PaddedPitch(width));
    const std::size_t stride = pitch * record.channels;
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    if (stride > std::numeric_limits<std::uint16_t>::max() ||
        bytes > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    auto memory = ImageMemory::Allocate(bytes);
    if (!memory) return false;
    record.alloc = std::move(memory);
    record.data = record.alloc->Bytes();
    record.write = record.data;
    record.lead = 0;
    record.left = 0;
    record.channelPitch = static_cast<std::uint16_t>(pitch);
    record.stride = static_cast<std::uint16_t>(stride);
    record.size = static_cast<std::int32_t>(bytes);
    record.allocSize = static_cast<std::int32_t>(bytes);
    return true;
}

bool ShapeDerived(ImageRecord& record, int width, int height, int planes) {
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension ||
        planes <= 0 || planes > kMaxRecordChannels)
        return false;
    const std::size_t pitch = static_cast<std::size_t>(PaddedPitch(width));
    const std::size_t stride = pitch * static_cast<std::size_t>(planes);
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    if (stride > std::numeric_limits<std::uint16_t>::max() ||
        bytes > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    if (record.data == nullptr || !record.alloc || RecordCapacity(record) < bytes) {
        auto memory = ImageMemory::Allocate(bytes);
        if (!memory) return false;
        record.alloc = std::move(memory);
        record.data = record.alloc->Bytes();
        record.allocSize = static_cast<std::int32_t>(bytes);
    }
    record.write = record.data;
    record.lead = 0;
    record.left = 0;
    record.channels = static_cast<std::uint8_t>(planes);
    record.channelPitch = static_cast<std::uint16_t>(pitch);
    record.stride = static_cast<std::uint16_t>(stride);
    record.size = static_cast<std::int32_t>(bytes);
    SetCropped(record, width, height);
    return true;
}

void StorePlane(ImageRecord& record, int channel, const cv::Mat& plane) {
    std::uint8_t* base =
        record.data + static_cast<std::size_t>(channel) * record.channelPitch + record.left;
    const std::size_t bytes = static_cast<std::size_t>(plane.cols);
    for (int y = 0; y < plane.rows; ++y)
        std::memmove(base + static_cast<std::size_t>(y) * record.stride, plane.ptr(y), bytes);
}

void SetCropped(ImageRecord& record, int width, int height) {
    record.top = record.top0 = 0;
    record.left0 = record.left;
    record.width = record.width0 = static_cast<std::uint16_t>(width);
    record.Height = record.height0 = static_cast<std::uint16_t>(height);
    record.right = static_cast<std::uint16_t>(record.left + width);
}

}  // namespace kovran::imaging
