// The debug image writer: a grey image (width, height, stride, pixels)
// written to a named file as JPEG, for the debug images of the correction
// and the reading.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovran::imaging::output {

// True when the file was written; failures are logged.
bool ImgWrite(const char* fileName, const std::uint8_t* pixels, int width, int height,
              std::ptrdiff_t stride, int quality);

// The correction's glitch image writer on top of ImgWrite.
void WriteGlitchImage(const char* path, const std::uint8_t* lines, std::size_t lineLength,
                      std::int32_t count);

}  // namespace kovran::imaging::output
