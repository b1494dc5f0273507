// The optional shared test data beside the repository (../shared/testdata:
// third-party fonts used only to draw test documents, never copied into the
// project). A test that needs it starts with KOVRAN_REQUIRE_SHARED_TESTDATA()
// and skips, with the one reason every such test gives, when it is absent.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kovran::testdata {

// The folder given to the build (CMake cache variable KOVRAN_TESTDATA_DIR).
inline std::string SharedTestdataDir() {
#ifdef KOVRAN_TESTDATA_DIR
    return KOVRAN_TESTDATA_DIR;
#else
    return "";
#endif
}

inline std::string GnuMicrFontPath() {
    return SharedTestdataDir() + "/fonts/gnumicr/GnuMICR.ttf";
}

inline bool HaveSharedTestdata() {
    std::error_code ec;
    return !SharedTestdataDir().empty() && std::filesystem::is_directory(SharedTestdataDir(), ec);
}

}  // namespace kovran::testdata

#define KOVRAN_REQUIRE_SHARED_TESTDATA()                                                          \
    do {                                                                                          \
        if (!::kovran::testdata::HaveSharedTestdata())                                            \
            GTEST_SKIP() << "shared test data not found at "                                      \
                         << ::kovran::testdata::SharedTestdataDir() << ": GnuMICR tests skipped"; \
    } while (false)
