// kvx-mkdb: builds the font database files of the recogniser.
//
//   kvx-mkdb --out DIR [NAME...]  build every database (or the named ones) into DIR
//   kvx-mkdb --list               list the databases with their fonts and glyph sources
//   kvx-mkdb --check FILE...      read database files back and print their model counts
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "db_builder.h"
#include "db_catalogue.h"
#include "ocr/font_db_file.h"

namespace {

using namespace kovran;
using mkdb::MkdbError;

int Usage() {
    std::fprintf(stderr,
                 "usage: kvx-mkdb --out DIR [NAME...]\n"
                 "       kvx-mkdb --list\n"
                 "       kvx-mkdb --check FILE...\n");
    return 2;
}

void List() {
    for (const mkdb::DbSpec& d : mkdb::DatabaseCatalogue()) {
        const std::size_t variants = d.family ? d.dataVariants.size() : d.faceVariants.size();
        std::printf("%-16s fonts %-40s %3zu chars x %zu  %s\n", d.name.c_str(), d.fonts.c_str(),
                    d.chars.size(), variants, d.source.c_str());
    }
}

void Check(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        const ocr::FontDbRead r = ocr::ReadFontDbFile(argv[i]);
        if (!r.Ok()) throw MkdbError(std::string(argv[i]) + ": " + ocr::FontDbErrorText(r.error));
        std::printf("%s: %zu models\n", argv[i], r.models.size());
    }
}

void Build(const std::string& dir, const std::vector<std::string>& only) {
    mkdb::FaceLibrary faces;
    std::map<std::string, std::size_t> counts;
    std::vector<std::pair<std::string, std::vector<ocr::FontModel>>> built;
    for (const std::string& name : only) {
        bool known = false;
        for (const mkdb::DbSpec& d : mkdb::DatabaseCatalogue()) known = known || d.name == name;
        if (!known) throw MkdbError(name + ": not a database of the library");
    }
    for (const mkdb::DbSpec& d : mkdb::DatabaseCatalogue()) {
        bool wanted = only.empty();
        for (const std::string& name : only) wanted = wanted || name == d.name;
        if (!wanted) continue;
        std::vector<ocr::FontModel> models = mkdb::BuildDatabase(d, faces);
        counts[d.name] = models.size();
        built.emplace_back(d.name, std::move(models));
    }
    // Nothing is written unless every file and every group is sound, so a
    // failed build never leaves a mixture of old and new files.
    mkdb::CheckGroups(mkdb::DatabaseGroups(), counts);
    for (const auto& [name, models] : built) {
        const std::string path = dir + "/" + name;
        const ocr::FontDbError e = ocr::WriteFontDbFile(path, models);
        if (e != ocr::FontDbError::None) throw MkdbError(path + ": " + ocr::FontDbErrorText(e));
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
            List();
        } else if (argc >= 3 && std::strcmp(argv[1], "--check") == 0) {
            Check(argc, argv, 2);
        } else if (argc >= 3 && std::strcmp(argv[1], "--out") == 0) {
            Build(argv[2], std::vector<std::string>(argv + 3, argv + argc));
        } else {
            return Usage();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx-mkdb: %s\n", e.what());
        return 1;
    }
    return 0;
}
