// Many documents through the whole scan pipeline against the simulator's
// streaming scanner, with a stream fault every 50 documents: every document
// the feeder gives out either arrives whole or is reported with its result,
// none is lost or taken twice, the page counter follows, and no thread is
// left behind. A few hundred documents by default; KOVRAN_SOAK_DOCUMENTS
// asks for more (the long form: 10000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "acquisition/scan_state.h"
#include "acquisition/virtual_clock.h"
#include "api/log_fixture.h"
#include "device/device_record.h"
#include "device/usb_selection.h"
#include "root/composition.h"
#include "sim/sim_backend.h"

namespace kovran::test {
namespace {

constexpr int kFaultEvery = 50;
// The smallest limit on a bulk read the library's ladder always gets
// under: it halves a refused block while the block is above 0x9FFF bytes.
constexpr std::size_t kSmallestLimit = 0xA000;
// Every fault kind once, and a few documents after the replug.
constexpr int kShortFormDocuments = 390;

int Documents() {
    const char* text = std::getenv("KOVRAN_SOAK_DOCUMENTS");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : kShortFormDocuments;
}

int ProcessThreads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return -1;
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

std::string Name(int document) {
    char name[32];
    std::snprintf(name, sizeof name, "soak %05d", document);
    return name;
}

// The faults, taken in turn.
enum class Kind : int {
    None,
    NotReady,
    GeneralFailure,
    Stall,
    ShortDocument,
    AlignerGlitch,
    NoiseDropout,
    TooLarge,
    Unplug,
};
constexpr int kKinds = 8;
const char* KindName(Kind k) {
    static const char* const names[] = {"none",          "not ready",       "general failure",
                                        "stall",         "short document",  "aligner glitch",
                                        "noise dropout", "1450 above size", "unplug"};
    return names[static_cast<int>(k)];
}

class ScanSoak : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        // The scan's workers pause on virtual time.
        workerClock_ = std::make_unique<ClockScope>(virtualClock_);
        root::InstallComposition();
        Ini(std::string("[General]\nLog=") + (std::getenv("KOVRAN_SOAK_LOG") ? "1" : "0") +
            "\nLogSize=0\n");
        StartAtLoad();
        sim::DeviceProfile profile = sim::DefaultDeviceProfile();
        profile.documents = 0;
        // Lines come at the line rate of the virtual clock, which costs no
        // real time: a free-running stream may be read whole without one
        // pause of the acquisition thread, which then never joins the clock
        // that the correction thread waits on.
        profile.stream.pace = sim::StreamSettings::Pace::Paced;
        // The leading 0 byte of each channel line lets the correction find
        // a byte the stream gained or lost; the configuration word (bit 30)
        // tells the library the device has it.
        profile.stream.aligner = true;
        profile.configWord |= 1u << 30;
        auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{profile});
        scanner_ = &backend->Device(0);
        device::InstallUsbBackend(std::move(backend));
        device::Device().lockDirectory = lockDir();
    }
    void TearDown() override {
        if (std::getenv("KOVRAN_SOAK_LOG") != nullptr && HasFailure())
            std::fputs(LogBytes().c_str(), stderr);
        device::InstallUsbBackend(nullptr);
        workerClock_.reset();
        LogFixture::TearDown();
    }

    std::vector<std::string> Fed() const {
        return scanner_->Inspect([](const sim::ScannerModel& m) { return m.Acquisition().Fed(); });
    }
    void Arm(Kind kind) {
        switch (kind) {
            case Kind::None:
                break;
            case Kind::NotReady:
                scanner_->Inject(sim::BulkError{.error = 21, .count = 2, .atByte = 60000});
                break;
            case Kind::GeneralFailure:
                scanner_->Inject(sim::BulkError{.error = 31, .count = 1, .atByte = 60000});
                break;
            case Kind::Stall:
                scanner_->Inject(sim::BulkStall{.atByte = 60000});
                break;
            case Kind::ShortDocument:
                scanner_->Inject(sim::ShortDocument{.lines = 120});
                break;
            case Kind::AlignerGlitch:
                scanner_->Inject(sim::AlignerGlitch{.line = 100, .shift = 1});
                break;
            case Kind::NoiseDropout:
                scanner_->Inject(sim::NoiseDropout{.line = 80, .pixel = 100, .lines = 4});
                break;
            case Kind::TooLarge:
                // Smaller than any block so far: the ladder lowers it again,
                // down to the smallest block the ladder still reaches (it
                // halves only blocks above 0x9FFF bytes, and keeps the size
                // it found). From there on the kept block fits under the
                // limit and the documents come whole: the long form has
                // more of these faults than halvings down to that floor.
                tooLarge_ = std::max(tooLarge_ / 2, kSmallestLimit);
                scanner_->Inject(sim::BulkTooLarge{tooLarge_});
                break;
            case Kind::Unplug:
                scanner_->Inject(sim::Unplug{.atByte = 60000});
                break;
        }
    }

    VirtualClock virtualClock_;
    sim::SimulatedScanner* scanner_ = nullptr;
    std::size_t tooLarge_ = std::size_t{8} << 20;

  private:
    std::unique_ptr<ClockScope> workerClock_;
};

TEST_F(ScanSoak, EveryDocumentArrivesOrIsReportedAndNothingIsLeft) {
    const int documents = Documents();
    std::vector<sim::SimDocument> feed = sim::GeneratedCheques(static_cast<unsigned>(documents));
    for (int i = 0; i < documents; ++i) feed[static_cast<std::size_t>(i)].name = Name(i);
    scanner_->LoadFeeder(feed);
    feed.clear();

    int handle = KVXInitialize(configDir().c_str());
    ASSERT_GT(handle, 0);
    KVXPagNumCur(handle, 1);
    constexpr int kDpi = 100;
    ASSERT_EQ(KVXImgCreate(handle, kDpi, kDpi), KVX_OK);
    // Taken after the first document: the image library keeps a pool of
    // its own from its first use on.
    int threadsBefore = -1;

    std::map<std::string, std::map<int, int>> results;  // kind -> result -> documents
    int whole = 0;
    int reported = 0;
    int faults = 0;
    std::string glitchHeights;
    for (int i = 0; i < documents; ++i) {
        const Kind kind = i % kFaultEvery == kFaultEvery / 2
                              ? static_cast<Kind>(1 + (i / kFaultEvery) % kKinds)
                              : Kind::None;
        if (kind != Kind::None) ++faults;
        Arm(kind);
        const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
        ++results[KindName(kind)][r];
        const std::vector<std::string> fed = Fed();
        // Exactly this document left the feeder: none skipped, none twice.
        ASSERT_EQ(fed.size(), static_cast<std::size_t>(i + 1))
            << "document " << i << " (" << KindName(kind) << ")";
        ASSERT_EQ(fed.back(), Name(i));
        if (r == KVX_OK) {
            ++whole;
            const int height = KVXGetAcqHeight(handle, 1, kDpi);
            // A cheque is 6 inches along the paper path; a short document
            // is cut at 120 lines and still reported whole.
            if (kind == Kind::AlignerGlitch) glitchHeights += " " + std::to_string(height);
            if (kind != Kind::ShortDocument) {
                EXPECT_NEAR(height, 6 * kDpi, kDpi / 4) << "document " << i;
            }
        } else {
            ++reported;
            // A general failure once data flows lost a read's bytes: the
            // document cannot be whole and is reported, not retried.
            EXPECT_TRUE(kind == Kind::Stall || kind == Kind::Unplug || kind == Kind::GeneralFailure)
                << "document " << i << " (" << KindName(kind) << ") gave " << r;
        }
        if (kind == Kind::Unplug) {
            ASSERT_NE(r, KVX_OK);
            // The close of a device that went away reports it; the handle
            // is gone either way.
            KVXClose(handle);
            scanner_->Replug();
            handle = KVXInitialize(configDir().c_str());
            ASSERT_GT(handle, 0) << "document " << i;
            ASSERT_EQ(KVXImgCreate(handle, kDpi, kDpi), KVX_OK);
        }
        if (r != KVX_OK && kind != Kind::Unplug) {
            ASSERT_EQ(KVXImgCreate(handle, kDpi, kDpi), KVX_OK);
        }
        if (i == 0) threadsBefore = ProcessThreads();
        // Every document that arrived is a page; one whose acquisition
        // failed is not.
        ASSERT_EQ(KVXPagNumCur(handle, 0), whole)
            << "document " << i << " (" << KindName(kind) << ") gave " << r;
    }
    EXPECT_EQ(scanner_->FeederCount(), 0u);
    acquisition::ScanRecord& s = acquisition::ScanState();
    EXPECT_FALSE(s.workers.acq.load());
    EXPECT_FALSE(s.workers.cor.load());
    EXPECT_FALSE(WithActiveStream(s, [](const auto&) {}));
    EXPECT_EQ(ProcessThreads(), threadsBefore);
    EXPECT_EQ(KVXImgFree(handle), KVX_OK);
    EXPECT_EQ(KVXClose(handle), KVX_OK);

    std::string figures;
    for (const auto& [kind, byResult] : results)
        for (const auto& [result, n] : byResult)
            figures += "  " + kind + ": result " + std::to_string(result) + " x" +
                       std::to_string(n) + "\n";
    RecordProperty("documents", documents);
    std::printf(
        "soak: %d documents, %d faults, %d whole, %d reported, peak resident %ld KiB\n"
        "%s  heights after a glitch:%s\n",
        documents, faults, whole, reported, PeakResidentKiB(), figures.c_str(),
        glitchHeights.c_str());
}

}  // namespace
}  // namespace kovran::test
