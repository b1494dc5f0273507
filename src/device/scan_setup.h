// The steps of the open that belong to the scan geometry: the default scan
// settings, the default acquisition mode, the colour check and the image
// buffers. The connection calls them in the order its steps give; the mode
// and image code implements them.
#pragma once

namespace kovran::device {

// After the configuration word: the default maximum document height, the
// ini defaults copied into the current scan settings, the default colour
// mode and the requested resolutions (300, 300, 0).
void PrepareScanDefaults();

// The default acquisition mode through parameter 1000, the mode set-up with
// height 0, then parameter 1000 back to automatic (8) in both outcomes.
// False when the set-up failed.
bool SelectDefaultAcqMode();

// The initialise's check of the default colour mode, with its fallback to
// grey and its log lines.
void CheckDefaultColour();

// Frees every image buffer and the acquisition storage (close, unload).
void FreeImageBuffers();

}  // namespace kovran::device
