// Turns a database description into its models: every character rendered in
// every variant, cut to its ink box and normalised exactly as the recogniser
// normalises a character box.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "db_catalogue.h"
#include "face_renderer.h"
#include "ocr/font_db_file.h"

namespace kovran::mkdb {

// The model table of a loaded font starts at entry 1, so one font's files
// together hold at most one model less than the table.
inline constexpr std::size_t kMaxModelsPerGroup = ocr::kMaxFontModels - 1;

struct BuiltDb {
    std::vector<ocr::FontModel> models;
    std::string error;  // empty on success
};

// The model of one rendered character (1 ink); the extra bytes keep the ink
// box size (u16 width, u16 height, little-endian) and the variant number.
// Fails (error set) when the image holds no ink.
bool modelFromImage(const ocr::InkImage& image, char c, int variant, ocr::FontModel& model,
                    std::string& error);

BuiltDb buildDatabase(const DbSpec& spec, FaceLibrary& faces);

// Checks that the files of every group fit one model table together; the
// counts are per file name. Returns the reason of the first failure, or "".
std::string checkGroups(const std::vector<DbGroup>& groups,
                        const std::map<std::string, std::size_t>& counts);

}  // namespace kovran::mkdb
