// `kvxscan scan`: the host program of the main job. It opens the scanner,
// creates the images, scans documents from the feeder one after the other
// and saves the front and the rear of each, through the public API only.
#pragma once

#include <string>

#include "scan_report.h"

namespace kvxscan {

enum class Colour : bool { Grey, Colour };

// The file formats offered, each with its request word and value.
enum class FileFormat { Jpeg, TiffG4, Png, Bmp, Pdf };

struct ScanOptions {
    int count = 0;  // 0: every document in the feeder
    int dpi = 200;
    Colour colour = Colour::Grey;
    FileFormat format = FileFormat::Jpeg;
    std::string outDir = ".";
    Output output = Output::Lines;
    // Printed on the rear of each document by the endorsement printer;
    // empty: nothing printed.
    std::string endorse;
};

// The arguments after "scan"; a ToolError with kExitUsage for a command
// line that cannot run.
ScanOptions ParseScanOptions(int argc, char** argv);
// The exit code: 0 done, 1 a failure (the library's message on standard
// error), 130 stopped by Ctrl-C.
int RunScan(const ScanOptions& options);

}  // namespace kvxscan
