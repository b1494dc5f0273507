// Directories of the debug output the reading writes when the ini asks for
// it: the debug images ("Ocr"/"DebugImg") with their purge at load, and the
// CMC7 images ("Ocr"/"CMC7SaveImg").
#pragma once

#include <string>

namespace kovran {

// The debug image directory: "Ocr"/"DebugImgPath" (default: the
// configuration directory followed by "/Img/"), created when missing; the
// configuration directory when it cannot be. Logs "saving debug images in".
std::string PrepareDebugImageDir();

// Deletes "ocr_*.jpg" and "iqa_*.jpg" in dir: with days 0 every such file
// written before now, with days above 0 those written before local
// midnight minus that many days (a day counted as 201 << 32 file-time
// units). Negative days purge nothing.
void PurgeDebugImages(const std::string& dir, int days);

// The CMC7 image directory: the configuration directory cut where "V3r"
// begins, followed by "CMC7ImgDir/", created when missing. When it cannot
// be, a private directory ("Using" logs which): $XDG_RUNTIME_DIR/kovran-cmc7/,
// else $TMPDIR (or /tmp) + "/kovran-cmc7-<uid>/". Empty when none is
// private, and the images are then not saved.
std::string PrepareCmc7ImageDir();

// Makes a directory only this user may enter (mode 0700), or accepts an
// existing one that is a directory of this user (not a link), narrowing its
// mode to 0700 when wider. False (system error set) otherwise.
bool EnsurePrivateDirectory(const std::string& path);

}  // namespace kovran
