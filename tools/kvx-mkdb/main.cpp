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

int usage() {
    std::fprintf(stderr,
                 "usage: kvx-mkdb --out DIR [NAME...]\n"
                 "       kvx-mkdb --list\n"
                 "       kvx-mkdb --check FILE...\n");
    return 2;
}

int list() {
    for (const mkdb::DbSpec& d : mkdb::databaseCatalogue()) {
        const std::size_t variants = d.family ? d.dataVariants.size() : d.faceVariants.size();
        std::printf("%-16s fonts %-40s %3zu chars x %zu  %s\n", d.name.c_str(), d.fonts.c_str(),
                    d.chars.size(), variants, d.source.c_str());
    }
    return 0;
}

int check(int argc, char** argv, int first) {
    int rc = 0;
    for (int i = first; i < argc; ++i) {
        const ocr::FontDbRead r = ocr::readFontDbFile(argv[i]);
        if (!r.ok()) {
            std::fprintf(stderr, "kvx-mkdb: %s: %s\n", argv[i], ocr::fontDbErrorText(r.error));
            rc = 1;
            continue;
        }
        std::printf("%s: %zu models\n", argv[i], r.models.size());
    }
    return rc;
}

int build(const std::string& dir, const std::vector<std::string>& only) {
    mkdb::FaceLibrary faces;
    std::map<std::string, std::size_t> counts;
    std::vector<std::pair<std::string, std::vector<ocr::FontModel>>> built;
    for (const std::string& name : only) {
        bool known = false;
        for (const mkdb::DbSpec& d : mkdb::databaseCatalogue()) known = known || d.name == name;
        if (!known) {
            std::fprintf(stderr, "kvx-mkdb: %s: not a database of the library\n", name.c_str());
            return 1;
        }
    }
    for (const mkdb::DbSpec& d : mkdb::databaseCatalogue()) {
        bool wanted = only.empty();
        for (const std::string& name : only) wanted = wanted || name == d.name;
        if (!wanted) continue;
        mkdb::BuiltDb b = mkdb::buildDatabase(d, faces);
        if (!b.error.empty()) {
            std::fprintf(stderr, "kvx-mkdb: %s: %s\n", d.name.c_str(), b.error.c_str());
            return 1;
        }
        counts[d.name] = b.models.size();
        built.emplace_back(d.name, std::move(b.models));
    }
    // Nothing is written unless every file and every group is sound, so a
    // failed build never leaves a mixture of old and new files.
    const std::string groupError = mkdb::checkGroups(mkdb::databaseGroups(), counts);
    if (!groupError.empty()) {
        std::fprintf(stderr, "kvx-mkdb: %s\n", groupError.c_str());
        return 1;
    }
    for (const auto& [name, models] : built) {
        const std::string path = dir + "/" + name;
        const ocr::FontDbError e = ocr::writeFontDbFile(path, models);
        if (e != ocr::FontDbError::None) {
            std::fprintf(stderr, "kvx-mkdb: %s: %s\n", path.c_str(), ocr::fontDbErrorText(e));
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) return list();
    if (argc >= 3 && std::strcmp(argv[1], "--check") == 0) return check(argc, argv, 2);
    if (argc >= 3 && std::strcmp(argv[1], "--out") == 0) {
        std::vector<std::string> only(argv + 3, argv + argc);
        return build(argv[2], only);
    }
    return usage();
}
