#include "sim/feeder.h"

namespace kovran::sim {

std::vector<std::uint8_t> SimDocument::RenderGrey() const {
    if (width <= 0 || height <= 0) return {};
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, 255);
    for (int y = bandTop; y < bandTop + bandHeight && y < height; ++y) {
        if (y < 0) continue;
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * width, width, bandGrey);
    }
    return pixels;
}

std::vector<SimDocument> PlaceholderCheques(unsigned count) {
    std::vector<SimDocument> docs;
    docs.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        SimDocument d;
        d.name = "placeholder cheque " + std::to_string(i + 1);
        d.width = 1800;
        d.height = 825;
        d.bandTop = 600 + static_cast<int>(i % 8) * 10;
        d.bandHeight = 90;
        d.bandGrey = 128;
        docs.push_back(std::move(d));
    }
    return docs;
}

void FeederQueue::Load(const std::vector<SimDocument>& documents) {
    queue_.insert(queue_.end(), documents.begin(), documents.end());
}

bool FeederQueue::Take(SimDocument* out) {
    if (queue_.empty()) return false;
    if (out) *out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

}  // namespace kovran::sim
