// The images handed to the host by pointer, and the images the library
// keeps for the host between the two calls of the two-call functions and
// in the two image descriptors. A pointer is released only when the
// library handed it out, so a double free or a foreign pointer is refused
// instead of corrupting the heap.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "KovranMS.h"

namespace kovran::imaging::retrieval {

using Bytes = std::vector<std::uint8_t>;

// The bytes moved into memory the host may hold; null when the memory is
// not there.
std::uint8_t* HandOut(Bytes bytes);
// Releases a pointer HandOut returned; false for any other pointer.
bool Release(const void* image);
// Pointers handed out and not released yet.
std::size_t HandedOut();

// The image kept by the two-call functions, per side (rear, front,
// backlight).
std::optional<Bytes>& KeptImage(int sideIndex);

// The two descriptors (rear, front): their addresses are the handles.
KVXImgDescriptor* Descriptor(int sideIndex);
// The side index (0 rear, 1 front) of a descriptor handle, or null.
std::optional<int> DescriptorSide(const void* handle);
// Replaces the image kept in a descriptor (releasing the one before).
void KeepInDescriptor(int sideIndex, std::uint8_t* image);
// Releases both descriptors' images; the sizes become 0.
void ClearDescriptors();
// The region KVXRoiImgStr2 stores.
std::array<std::int16_t, 4>& StoredRegion();

}  // namespace kovran::imaging::retrieval
