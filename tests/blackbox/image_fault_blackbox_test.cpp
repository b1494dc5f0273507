// Faults a host meets when saving: names at the length limit, a side with
// nothing to give in the two-call form, and a disk that fills up while a
// multipage TIFF or a PDF is being written.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <vector>

#include "blackbox/image_host_fixture.h"
#include "blackbox/reference_decoders.h"

namespace kovran::test {
namespace {

// Every write past `bytes` of a file fails as on a full disk while it lives.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &before_);
        rlimit tiny = before_;
        tiny.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit before_{};
    void (*previous_)(int);
};

TEST_F(HostImages, ANameAtTheLengthLimitIsSavedWithTheUsualMode) {
    Scan();
    const mode_t mask = umask(022);
    // 255 bytes is the longest name a directory entry takes.
    const std::string name = File(std::string(251, 'n') + ".jpg");
    const KVXResult r = KVX(KVXImgSave)(handle, kFront, nullptr, 75, KVX_FMT_JPEG, name.c_str());
    umask(mask);
    ASSERT_EQ(r, KVX_OK) << Log();
    ASSERT_TRUE(ReadJpeg(name));
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(Entries(out()).size(), 1u);
    // One byte more is no name.
    EXPECT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, KVX_FMT_JPEG,
                              File(std::string(256, 'n')).c_str()),
              KVX_ERR_WRITE);
    EXPECT_EQ(Entries(out()).size(), 1u);
}

TEST_F(HostImages, TheTwoCallFormGivesNoLengthForASideWithoutImage) {
    Scan(300, 0);
    // The warning is in the last result, never in the length.
    EXPECT_EQ(KVX(KVXImgGet2)(handle, kRear, nullptr, 75, KVX_FMT_JPEG, nullptr), 0);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_WAR_IMAGE_SIZE);
    EXPECT_EQ(KVX(KVXImgGet3)(handle, kRear, 0, 0, nullptr, 75, KVX_FMT_JPEG, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_WAR_IMAGE_SIZE);
    // Errors stay negative.
    EXPECT_EQ(KVX(KVXImgGet2)(handle, kFront, nullptr, 0, KVX_FMT_JPEG, nullptr),
              KVX_ERR_INV_PARAMETER);
}

TEST_F(HostImages, AMultipageThatFailedOnAFullDiskTakesNoName) {
    Scan();
    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 0, KVX_FMT_PNG, File("p.png").c_str()),
              KVX_OK);
    const std::string multiDir = dir / "multi";
    fs::create_directories(multiDir);
    const std::string multi = multiDir + "/m.tif";
    ASSERT_EQ(KVX(KVXMultiPageInit)(handle, multi.c_str(), KVX_FMT_TIFF), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXMultiPageAdd)(handle, File("p.png").c_str()), KVX_OK) << Log();
    {
        // Room for a part of the next page only.
        const FileSizeLimit limit(2'000'000);  // one uncompressed page is about 1.5 MB
        EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File("p.png").c_str()), KVX_ERR_GENERIC);
    }
    // The page the host was told failed must not appear, cut or whole.
    EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File("p.png").c_str()), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXMultiPageClose)(handle), KVX_ERR_WRITE);
    EXPECT_TRUE(Entries(multiDir).empty());
    EXPECT_NE(Log().find("encoding multipage file"), std::string::npos);
    // The next multipage starts afresh.
    ASSERT_EQ(KVX(KVXMultiPageInit)(handle, multi.c_str(), KVX_FMT_TIFF_G4), KVX_OK);
    ASSERT_EQ(KVX(KVXMultiPageAdd)(handle, File("p.png").c_str()), KVX_OK);
    ASSERT_EQ(KVX(KVXMultiPageClose)(handle), KVX_OK);
    const auto pages = ReadTiff(multi);
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->size(), 1u);
}

TEST_F(HostImages, APdfCutByAFullDiskIsReportedAsAShortWrite) {
    Scan();
    const auto jpeg = Get(kFront, 75, KVX_FMT_JPEG);
    ASSERT_FALSE(jpeg.empty());
    KVXResult r = KVX_OK;
    {
        // The page image fits; the PDF around it does not.
        const FileSizeLimit limit(jpeg.size() + 64);
        r = KVX(KVXImgSave)(handle, kFront, nullptr, 75, KVX_FMT_PDF_JPEG, File("f.pdf").c_str());
    }
    EXPECT_EQ(r, KVX_ERR_WRITE);
    EXPECT_TRUE(Entries(out()).empty());
    const std::string log = Log();
    EXPECT_NE(log.find("SaveImgStruct with invalid nBytes written"), std::string::npos) << log;
    EXPECT_EQ(log.find("SaveImgStruct with invalid file name or path"), std::string::npos) << log;
}

}  // namespace
}  // namespace kovran::test
