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

// The model of one rendered character (1 ink); the extra bytes keep the ink
// box size (u16 width, u16 height, little-endian) and the variant number.
// Throws MkdbError when the image holds no ink.
ocr::FontModel ModelFromImage(imaging::ConstImageView image, char c, int variant);

// The models of one database; throws MkdbError whose message starts with
// the database's name.
std::vector<ocr::FontModel> BuildDatabase(const DbSpec& spec, FaceLibrary& faces);

// Checks that the files of every group fit one model table together; the
// counts are per file name. Throws MkdbError for the first group that does not.
void CheckGroups(const std::vector<DbGroup>& groups,
                 const std::map<std::string, std::size_t>& counts);

}  // namespace kovran::mkdb
