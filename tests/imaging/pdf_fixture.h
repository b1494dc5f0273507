// A fresh library whose log lands in a scratch directory, for the PDF
// writer's tests; every PDF a test writes is checked by qpdf.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "api/frame_state.h"
#include "api/log_state.h"
#include "imaging/pdf/pdf_document.h"
#include "imaging/pdf_test_support.h"
#include "support/temp_dir.h"

namespace kovran::test::pdf {

using namespace kovran::imaging::pdf;

class PdfFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        LogRecord().on = true;
        LogRecord().timeStamp = false;
        LogRecord().filePath = tmp_ / "test.log";
        LogRecord().lockName = "kovran_pdf_test_" + std::to_string(::getpid());
        LogRecord().lockDirectory = tmp_.path();
        WriteFileBytes(tmp_ / "test.log", "");
    }
    void TearDown() override { ResetLibraryState(); }

    std::string Log() const { return ReadFileBytes(tmp_ / "test.log"); }
    ::testing::AssertionResult Logged(const std::string& line) const {
        const std::string log = Log();
        if (log.find(line) != std::string::npos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "\"" << line << "\" not in the log:\n" << log;
    }

    // A 1-bit uncompressed TIFF of the test pattern (or spec) in the
    // scratch directory.
    std::string Tiff(const std::string& name, TiffSpec spec = {}) {
        const std::string path = tmp_ / name;
        WriteTiff(path, spec, TestPattern(spec.width, spec.height));
        return path;
    }
    std::string Jpeg(const std::string& name, int width, int height, int dpi, int components = 1) {
        const std::string path = tmp_ / name;
        WriteJpeg(path, TestPattern(width, height), components, dpi);
        return path;
    }

    // Writes a document of the given pages (image file, format word).
    std::string Write(const std::string& name, const PdfOptions& options,
                      const std::vector<std::pair<std::string, int>>& pages, int pid = 3) {
        const std::string path = tmp_ / name;
        PdfDocumentPtr doc = PdfOpen(path, pid, options);
        EXPECT_TRUE(doc != nullptr);
        if (!doc) return path;
        for (const auto& [file, format] : pages)
            EXPECT_EQ(PdfAddImagePage(*doc, file.c_str(), format), 1) << file;
        EXPECT_TRUE(PdfClose(std::move(doc)));
        return path;
    }

    void RequireQpdf() {
        if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf is not installed (scripts/setup installs it)";
    }

    TempDir tmp_;
};

}  // namespace kovran::test::pdf
