// The administrator's settings in KOVRANMS.ini: read once at load into the
// ini-default records, copied into the current records at load and at
// every initialise. A few keys are read each time they are used; their
// getters read the file at call time.
#pragma once

#include <optional>
#include <string>

namespace kovran {

// Reads the load-time keys of kIniKeys, in table order, into
// Settings().scanIni and Settings().ocrIni (a missing file or key gives the
// default), writes the log lines the keys ask for, prepares the debug image
// and CMC7 image directories and purges old debug images.
void ReadIniSettings();

// Current settings = ini defaults, for the scan and the OCR record.
void CopyIniDefaultsToCurrent();

// The font database directory: "OCR"/"DBDir" when set ("changing DBDir" is
// logged), else the configuration directory; always ending in a separator.
// Empty when neither is known.
std::string DbDirectory();

// ---- Keys read when used (their rows in kIniKeys give key, default, rule)

// "Image"/"h_150_dpi": the forced document height at 150 dpi, when the key
// holds a value that is not negative.
std::optional<int> IniH150Dpi();
// "Image"/"Autoquality" (default 30), as written; the encoder clamps it.
int IniAutoquality();
// "Ocr"/"rotAuto" (default 0); above 0 forces the automatic rotation.
int IniRotAuto();
// "ADF"/"disable" (default 0) above 0.
bool IniAdfDisabled();
// "BackLight" lamp levels, clamped to 0..255: "LedLevIRRGB" and
// "LedLevIRGray" (default 150), "LedLevUVRGB" and "LedLevUVGray" (254).
int IniLedLevIRRGB();
int IniLedLevIRGray();
int IniLedLevUVRGB();
int IniLedLevUVGray();
// "Patch"/"Freccia01" (default 0).
int IniFreccia01();

}  // namespace kovran
