// The file-based symbol corpus: zone images as binary PGM files, each beside
// a text file listing the texts it holds (none for the sets that must not
// decode), in folders <symbology>/<level>/. The corpus is generated from
// zint symbols and fixed seeds; only the read minimums are kept in the tree.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/image_view.h"

namespace kovran::test::corpus {

inline const char* const kSymbologies[] = {"1d", "pdf417", "datamatrix", "qrcode"};
// The degradation levels of every symbology, then the must-not-decode set.
inline const char* const kLevels[] = {"clean", "blur", "noise", "turned", "heavy"};
inline constexpr const char* kMustNotDecode = "nodecode";
inline constexpr int kDocumentsPerLevel = 8;

struct Document {
    std::filesystem::path image;
    std::vector<std::string> texts;  // empty: nothing may be read
};

// Writes the whole corpus under `root` (an existing corpus is rewritten).
void GenerateCorpus(const std::filesystem::path& root);

// The documents of one folder, by name.
std::vector<Document> ListDocuments(const std::filesystem::path& folder);

void WritePgm(const std::filesystem::path& file, imaging::ConstImageView image);
imaging::ImageBuffer ReadPgm(const std::filesystem::path& file, int resolution = 300);

// Our reader of each symbology: the text read, nullopt for none.
using ZoneReader = std::function<std::optional<std::string>(imaging::ConstImageView)>;
ZoneReader OurReader(const std::string& symbology);

}  // namespace kovran::test::corpus
