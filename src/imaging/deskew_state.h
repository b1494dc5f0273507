// What the crop-only deskew of a side leaves for retrieval: the document's
// corners inside the cropped side and the upright rectangle they map to.
// Library-wide, one per side (rear, front); written at the end of an
// acquisition, read by the retrieval's wrap.
#pragma once

#include <array>

namespace kovran::imaging {

struct CornerPoint {
    float x = 0.0f;
    float y = 0.0f;
};

struct SideDeskew {
    bool stored = false;
    // Top-left, top-right, bottom-right, bottom-left.
    std::array<CornerPoint, 4> source{};
    std::array<CornerPoint, 4> destination{};
    int width = 0;
    int height = 0;
    bool flipX = false;
    bool flipY = false;
    double angle = 0.0;  // degrees
};

struct DeskewRecord {
    std::array<SideDeskew, 2> sides{};  // rear, front
};

DeskewRecord& DeskewStates();

// The side's state, or null for a side other than rear and front.
SideDeskew* DeskewState(int side);

}  // namespace kovran::imaging
