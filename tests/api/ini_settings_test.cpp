#include "api/ini_settings.h"
#include "api/log.h"
#include "api/names.h"
#include "api/settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/config_dir.h"
#include "api/config_fixture.h"
#include "api/debug_dirs.h"
#include "api/ini_keys.h"
#include "api/library.h"
#include "support/scoped_env.h"

namespace kovran {
namespace {

namespace fs = std::filesystem;
using test::ConfigFixture;
using test::ScopedEnv;
using test::WriteFileBytes;

using Rules = std::vector<std::pair<std::string, long>>;

// What a key read at load must do, written down apart from kIniKeys: where
// it lives, which field it fills, its default, and values with what they
// must give.
struct KeyCase {
    const char* section;
    const char* key;
    std::function<long()> field;
    long def;
    Rules rules;
};

#define SCAN(f) [] { return static_cast<long>(Settings().scanIni.f); }
#define OCR(f) [] { return static_cast<long>(Settings().ocrIni.f); }

// The value rules shared by many keys. Text that is not a number is 0, so an
// empty value or a hexadecimal one switches a flag off.
const Rules kFlag = {{"0", 0},   {"1", 1},  {"7", 1},   {"-1", 0},    {"", 0},           {"x", 0},
                     {" 2 ", 1}, {"+1", 1}, {"0x1", 0}, {"1junk", 1}, {"99999999999", 1}};
const Rules kNumber = {{"0", 0},
                       {"123", 123},
                       {"-7", -7},
                       {" 42\t", 42},
                       {"12abc", 12},
                       {"0x1F", 0},
                       {"", 0},
                       {"+5", 5},
                       {"99999999999", INT_MAX},
                       {"-99999999999", INT_MIN}};
const Rules kTone = {{"0", 0}, {"255", 255}, {"256", 255}, {"-1", 0}, {"99999999999", 255}};
const Rules kDuration = {{"0", 0}, {"-1", 0}, {"65536", 65536}, {"x", 0}};
const Rules kNonNegative = {{"5", 5}, {"-1", 0}, {"-99999999999", 0}, {"x", 0}};

const std::vector<KeyCase>& Table() {
    static const std::vector<KeyCase> table = {
        {"General", "EnCntPages", SCAN(enCntPages), 1, kFlag},
        {"General", "fw3000", SCAN(fw3000), 1, kFlag},
        {"General", "SWGlitchDetection", SCAN(swGlitchDetection), 0, kFlag},
        {"General", "SWNoiseDetection", SCAN(swNoiseDetection), 0, kFlag},
        {"General", "AutoMoveBack", SCAN(autoMoveBack), 0, kFlag},
        {"General", "SideAuto", SCAN(sideAuto), 0, kFlag},
        {"General", "forward", SCAN(forward), 1, kFlag},
        {"General", "Deskew", SCAN(deskew), 1, kFlag},
        {"General", "Trim", SCAN(trim), 1, kFlag},
        {"General", "Trim", SCAN(trimExtended), 0, {{"1", 0}, {"2", 1}, {"0", 0}, {"-2", 0}}},
        {"General", "Sharp", SCAN(sharp), 0, kFlag},
        {"General", "msecWaitStart", SCAN(msecWaitStart), 0, kNumber},
        {"General", "msecValLines", SCAN(msecValLines), 1, kNumber},
        {"General",
         "DisAcqMode",
         SCAN(disAcqMode),
         0,
         {{"255", 255}, {"256", 0}, {"300", 0}, {"-1", 0}, {"7", 7}, {"99999999999", 0}}},
        {"General",
         "EP0SemaphoreTimeout",
         SCAN(ep0SemaphoreTimeoutMs),
         10000,
         {{"0", 10000}, {"-5", 10000}, {"250", 250}, {"x", 10000}}},
        {"General",
         "OvrlpdEventTimeout",
         SCAN(overlappedEventTimeoutMs),
         10000,
         {{"0", 10000}, {"-5", 10000}, {"3000", 3000}}},
        {"General", "TwoPart", SCAN(twoPart), 0, kFlag},
        {"General", "ADFAcq", SCAN(adfAcq), 0, kFlag},
        {"General", "MaxHeight150", SCAN(maxHeight150), 0, kNonNegative},
        {"General", "nPageEn", SCAN(nPageEn), 1, kFlag},
        {"General", "DoubleFeed", SCAN(doubleFeed), 1, kFlag},
        // Alone in the file: its default follows "DoubleFeed", which is 1.
        {"General", "DoubleFeedDelivery", SCAN(doubleFeedDelivery), 1, kFlag},
        {"General",
         "DoubleFeedCntMax",
         SCAN(doubleFeedCntMax),
         450,
         {{"5", 10}, {"9", 10}, {"10", 10}, {"11", 11}, {"-3", 10}, {"x", 10}, {"600", 600}}},
        {"General", "DoubleFeedBlackVe", SCAN(doubleFeedBlackVe), -1, kNumber},
        {"General", "SequenceCheck", SCAN(sequenceCheck), 1, kFlag},
        {"General", "SeqCheckMoveBackLines300", SCAN(seqCheckMoveBackLines300), 0, kNonNegative},
        {"General", "DeskewMicr", OCR(deskewMicr), 0, kFlag},
        {"Cleaning", "CheckEnable", SCAN(checkEnable), 1, kFlag},
        {"Cleaning", "CheckCalibration", SCAN(checkCalibration), 1, kFlag},
        {"Image", "RemoveBack", SCAN(removeBack), 1, kFlag},
        {"Image", "BorderThr", SCAN(borderThr), 0, kTone},
        {"Image", "BorderVal", SCAN(borderVal), 0, kTone},
        {"Image", "Color", SCAN(color), 1, kNumber},
        {"Image", "pdfA", SCAN(pdfA), 1, kNonNegative},
        {"Immagine", "pdfTitle", SCAN(pdfTitle), 1, kNonNegative},
        {"Image", "pdfAFull", SCAN(pdfAFull), 0, kNonNegative},
        {"Buzer", "ValDouble", SCAN(valDouble), 200, kTone},
        {"Buzer", "MSecDouble", SCAN(mSecDouble), 1200, kDuration},
        {"Buzer", "ValNR", SCAN(valNR), 100, kTone},
        {"Buzer", "MSecNR", SCAN(mSecNR), 600, kDuration},
        {"Buzer", "ValNoCld", SCAN(valNoCld), 50, kTone},
        {"Buzer", "MSecNoCld", SCAN(mSecNoCld), 200, kDuration},
        {"Ocr", "CMC7SaveImg", OCR(cmc7SaveImg), 0, kFlag},
        {"Ocr", "CheckIdExtended", OCR(checkIdExtended), 60, kNumber},
        {"Ocr", "typeDoc", OCR(typeDoc), 1, kNumber},
        {"Ocr", "typeDocCMC7", OCR(typeDocCmc7), 1, kNumber},
        {"Ocr", "typeDocMICROPERFORATION", OCR(typeDocMicroperforation), 3, kNumber},
        {"Ocr", "CdlTxt", OCR(cdlTxt), 0, kFlag},
        {"Ocr", "BarcodeMirror", OCR(barcodeMirror), 0, kFlag},
        {"Ocr", "E13BMapping", OCR(e13bMapping), 0, kNumber},
        {"Ocr", "DebugImg", OCR(debugImg), 0, kFlag},
        {"Ocr", "DebugImgDays", OCR(debugImgDays), 0, kNumber},
        {"Ocr", "CdlImg", OCR(cdlImg), 0, kFlag},
        {"Ocr", "CdlImgDate", OCR(cdlImgDate), 0, kFlag},
        {"Ocr", "CdlMICR", OCR(cdlMicr), 0, kFlag},
        {"Ocr", "onlyMICR", OCR(onlyMicr), 0, kFlag},
        {"Ocr",
         "CMC7Thr",
         OCR(cmc7Thr),
         80,
         {{"79", 80}, {"80", 80}, {"99", 99}, {"100", 99}, {"120", 99}, {"x", 80}, {"-90", 80}}},
        {"Ocr",
         "E13BThr",
         OCR(e13bThr),
         40,
         {{"39", 40}, {"40", 40}, {"50", 50}, {"100", 99}, {"99999999999", 99}}},
        {"Inkjet2", "msecWarmTot", SCAN(msecWarmTot), 0, kNumber},
        {"Inkjet2", "msecWarmDelta", SCAN(msecWarmDelta), 0, kNumber},
        {"Inkjet2",
         "grayLev",
         SCAN(grayLev),
         10,
         {{"0", 1}, {"1", 1}, {"-4", 1}, {"255", 255}, {"256", 255}, {"x", 1}}},
        {"IQA", "Active", SCAN(iqaActive), 1, kFlag},
        {"IQA", "ErrLev", SCAN(iqaErrLev), 1, kNumber},
        {"IQA", "KB_MinF", SCAN(kbMinF), 60, kNumber},
        {"IQA", "KB_MinR", SCAN(kbMinR), 40, kNumber},
        {"IQA", "KB_MinB", SCAN(kbMinB), 40, kNumber},
        {"IQA", "KB_MaxF", SCAN(kbMaxF), 230, kNumber},
        {"IQA", "KB_MaxR", SCAN(kbMaxR), 170, kNumber},
        {"IQA", "KB_MaxB", SCAN(kbMaxB), 170, kNumber},
        {"IQA", "QualityF", SCAN(qualityF), 20, kNumber},
        {"IQA", "QualityR", SCAN(qualityR), 20, kNumber},
        {"IQA", "QualityB", SCAN(qualityB), 20, kNumber},
        {"Debug", "statusIn", SCAN(statusIn), 0, kFlag},
        {"Debug", "statusOut", SCAN(statusOut), 0, kFlag},
        {"Debug", "glitch", SCAN(glitch), 0, kFlag},
    };
    return table;
}

#undef SCAN
#undef OCR

using KeyName = std::pair<std::string, std::string>;

KeyName NameOf(const IniKey& row) {
    return {std::string(row.section), std::string(row.key)};
}

// The load-time rows of kIniKeys, each key once ("Trim" fills two fields).
std::vector<const IniKey*> LoadTimeRows() {
    std::vector<const IniKey*> rows;
    std::set<KeyName> seen;
    for (const IniKey& row : kIniKeys) {
        if (row.reader == IniReader::Load && seen.insert(NameOf(row)).second) rows.push_back(&row);
    }
    return rows;
}

std::vector<const KeyCase*> CasesOf(const IniKey& row) {
    std::vector<const KeyCase*> cases;
    for (const KeyCase& k : Table()) {
        if (KeyName{k.section, k.key} == NameOf(row)) cases.push_back(&k);
    }
    return cases;
}

// A key the reader does not read, or one read that nobody expects, shows
// here: the reader reads exactly the rows of the table.
TEST(IniKeyTable, ReadsExactlyTheExpectedKeys) {
    std::set<KeyName> rows;
    for (const IniKey* row : LoadTimeRows()) rows.insert(NameOf(*row));
    std::set<KeyName> expected;
    for (const KeyCase& k : Table()) expected.insert({k.section, k.key});
    EXPECT_EQ(rows, expected);
}

class IniSettings : public ConfigFixture {
  protected:
    // A fresh load of the given ini text (nullptr: no ini file at all) with
    // a valid configuration directory.
    void Load(const char* iniText) {
        SetUp();
        fs::remove(Names().iniPath);
        if (iniText) WriteIni(iniText);
        ASSERT_TRUE(SetConfigDir((tmp_ / "cnf/Kovran/V3r").c_str()));
        ClearLog();
        ReadIniSettings();
    }
    // Reads the settings again from a new text, keeping the directory.
    void Reread(const std::string& iniText) {
        WriteIni(iniText);
        Settings().scanIni = ScanSettings{};
        Settings().ocrIni = OcrSettings{};
        ReadIniSettings();
    }
    void ExpectDefaults(const char* what) {
        for (const IniKey* row : LoadTimeRows()) {
            for (const KeyCase* k : CasesOf(*row))
                EXPECT_EQ(k->field(), k->def) << what << ": " << k->section << "/" << k->key;
        }
    }
};

TEST_F(IniSettings, EveryKeyTakesItsDefaultWhenAbsent) {
    Load(nullptr);
    ExpectDefaults("no ini file");
    Load("");
    ExpectDefaults("empty ini file");
    // Keys of another section, or in a comment, are not the table's keys.
    Load("; EnCntPages=0\r\n[Other]\r\nEnCntPages=0\r\nCMC7Thr=90\r\nglitch=1\r\n");
    ExpectDefaults("other section");
}

TEST_F(IniSettings, EveryKeyFollowsItsRule) {
    Load(nullptr);
    LogRecord().on = false;
    for (const IniKey* row : LoadTimeRows()) {
        for (const KeyCase* k : CasesOf(*row)) {
            for (const auto& [value, expected] : k->rules) {
                const std::string text = "[" + std::string(row->section) + "]\r\n" +
                                         std::string(row->key) + "=" + value + "\r\n";
                Reread(text);
                EXPECT_EQ(k->field(), expected)
                    << k->section << "/" << k->key << " = \"" << value << "\"";
            }
        }
    }
}

TEST_F(IniSettings, ProfileRulesApplyToTheTables) {
    // Section and key names in any case, LF or CR LF line ends, blanks
    // around names and values, quotes around a value.
    Load("[GENERAL]\nencntpages = 0\n[ocr]\r\n  CMC7THR  =  \"95\"  \r\n[iQa]\r\nKB_MINF=7");
    EXPECT_FALSE(Settings().scanIni.enCntPages);
    EXPECT_EQ(Settings().ocrIni.cmc7Thr, 95);
    EXPECT_EQ(Settings().scanIni.kbMinF, 7);

    // The first of duplicate keys wins; a repeated section is not searched.
    Load("[Ocr]\nE13BThr=50\nE13BThr=60\n[General]\nfw3000=0\n[Ocr]\nCMC7Thr=90\n");
    EXPECT_EQ(Settings().ocrIni.e13bThr, 50);
    EXPECT_FALSE(Settings().scanIni.fw3000);
    EXPECT_EQ(Settings().ocrIni.cmc7Thr, 80);

    // A key present with an empty value is 0, not its default.
    Load("[General]\nDoubleFeed=\nforward=\n");
    EXPECT_FALSE(Settings().scanIni.doubleFeed);
    EXPECT_FALSE(Settings().scanIni.forward);
}

TEST_F(IniSettings, DeliveryFollowsTheDoubleFeedValue) {
    Load("[General]\nDoubleFeed=0\n");
    EXPECT_FALSE(Settings().scanIni.doubleFeedDelivery);
    Load("[General]\nDoubleFeed=0\nDoubleFeedDelivery=1\n");
    EXPECT_TRUE(Settings().scanIni.doubleFeedDelivery);
    Load("[General]\nDoubleFeed=3\nDoubleFeedDelivery=0\n");
    EXPECT_TRUE(Settings().scanIni.doubleFeed);
    EXPECT_FALSE(Settings().scanIni.doubleFeedDelivery);
}

TEST_F(IniSettings, LinesTheKeysAskFor) {
    Load(nullptr);
    EXPECT_EQ(LogText(), "Mirrored barcode disabled\r\n");

    Load(
        "[General]\nSWGlitchDetection=1\nSWNoiseDetection=1\nEP0SemaphoreTimeout=2500\n"
        "OvrlpdEventTimeout=700\n[Ocr]\nCheckIdExtended=61\ntypeDoc=5\ntypeDocCMC7=0\n"
        "typeDocMICROPERFORATION=4\nBarcodeMirror=1\n[Debug]\nglitch=1\n");
    EXPECT_EQ(LogText(),
              "with SW glitch detection\r\n"
              "with SW noise detection\r\n"
              "EP0SemaphoreTimeout 2500\r\r\n"
              "OvrlpdEventTimeout 700\r\r\n"
              "looking for beneficiary and ammount on 0x003d\r\n"
              "ini forces typeDoc to  5\r\r\n"
              "ini forces typeDoc for CMC7 to  0\r\r\n"
              "ini forces typeDoc for MICROPERFORATION to  4\r\r\n"
              "Mirrored barcode enabled\r\n"
              "glitch debug\r\n");

    // The usual values say nothing.
    Load("[Ocr]\nCheckIdExtended=60\ntypeDoc=1\ntypeDocCMC7=1\ntypeDocMICROPERFORATION=3\n");
    EXPECT_EQ(LogText(), "Mirrored barcode disabled\r\n");
}

TEST_F(IniSettings, DebugImagesNeedTheConfigurationDirectory) {
    Load("[Ocr]\nDebugImg=1\n");
    const std::string cnf = Config().dir;
    EXPECT_TRUE(Settings().ocrIni.debugImg);
    EXPECT_EQ(Settings().ocrIni.debugImgPath, cnf + "/Img/");
    EXPECT_TRUE(fs::is_directory(cnf + "/Img"));
    EXPECT_TRUE(Logged("saving debug images in " + cnf + "/Img/\r\n"));

    WriteFileBytes(tmp_ / "file", "x");
    Load(("[Ocr]\nDebugImg=1\nDebugImgPath=" + (tmp_ / "file/img") + "\n").c_str());
    EXPECT_EQ(Settings().ocrIni.debugImgPath, Config().dir);
    EXPECT_TRUE(Logged("saving debug images in " + Config().dir + "\r\n"));

    SetUp();
    WriteIni("[Ocr]\nDebugImg=1\n");
    ReadIniSettings();  // no configuration directory
    EXPECT_FALSE(Settings().ocrIni.debugImg);
    EXPECT_FALSE(Logged("saving debug images"));
}

TEST_F(IniSettings, Cmc7ImagesGoBesideTheV3rLevel) {
    Load("[Ocr]\nCMC7SaveImg=1\n");
    const std::string expected = tmp_ / "cnf/Kovran/CMC7ImgDir/";
    EXPECT_EQ(Settings().ocrIni.cmc7ImgDir, expected);
    EXPECT_TRUE(fs::is_directory(expected));

    // A directory without "V3r" keeps its whole path.
    SetUp();
    WriteIni("[Ocr]\nCMC7SaveImg=1\n");
    ASSERT_TRUE(SetConfigDir((tmp_ / "plain").c_str()));
    ReadIniSettings();
    EXPECT_EQ(Settings().ocrIni.cmc7ImgDir, tmp_ / "plain/CMC7ImgDir/");

    // Nowhere to create it: a directory of this user in its runtime folder.
    SetUp();
    fs::create_directory(tmp_ / "run");
    ScopedEnv run("XDG_RUNTIME_DIR", (tmp_ / "run").c_str());
    WriteIni("[Ocr]\nCMC7SaveImg=1\n");
    WriteFileBytes(tmp_ / "file", "x");
    Config().dir = tmp_ / "file/V3r";
    Config().valid = true;
    ReadIniSettings();
    EXPECT_TRUE(Settings().ocrIni.cmc7SaveImg);
    EXPECT_EQ(Settings().ocrIni.cmc7ImgDir, tmp_ / "run/kovran-cmc7/");
    EXPECT_TRUE(Logged("err -  SaveCMC7ImgDir " + (tmp_ / "file/V3r") +
                       "\r\nNot able to create default saveCMC7ImgDir 3\r\r\nUsing " +
                       (tmp_ / "run/kovran-cmc7/") + "\r\n"));
}

// The fallback for CMC7 images, whose codelines carry account numbers.
class Cmc7PrivateDir : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        fs::create_directory(tmp_ / "run");
        fs::create_directory(tmp_ / "tmp");
        WriteIni("[Ocr]\nCMC7SaveImg=1\n");
        WriteFileBytes(tmp_ / "file", "x");
    }
    // Loads with a configuration directory below which nothing can be made.
    std::string Prepare() {
        Config().dir = tmp_ / "file/V3r";
        Config().valid = true;
        Settings().ocrIni = OcrSettings{};
        ClearLog();
        ReadIniSettings();
        return Settings().ocrIni.cmc7ImgDir;
    }
    std::string UserTmpDir() const {
        return tmp_ / ("tmp/kovran-cmc7-" + std::to_string(::geteuid()) + "/");
    }
    ::testing::AssertionResult IsPrivate(const std::string& dir) const {
        struct stat st {};
        if (::lstat(dir.c_str(), &st) != 0) return ::testing::AssertionFailure() << "missing";
        if (!S_ISDIR(st.st_mode)) return ::testing::AssertionFailure() << "not a directory";
        if ((st.st_mode & 07777) != 0700)
            return ::testing::AssertionFailure() << "mode " << std::oct << (st.st_mode & 07777);
        if (st.st_uid != ::geteuid()) return ::testing::AssertionFailure() << "owner " << st.st_uid;
        return ::testing::AssertionSuccess();
    }

    ScopedEnv run_{"XDG_RUNTIME_DIR", (tmp_ / "run").c_str()};
    ScopedEnv tmpDir_{"TMPDIR", (tmp_ / "tmp").c_str()};
};

TEST_F(Cmc7PrivateDir, RuntimeDirectoryFirstMadeOnlyForThisUser) {
    ::umask(0);  // a permissive umask must not widen it
    const std::string dir = Prepare();
    ::umask(022);
    EXPECT_EQ(dir, tmp_ / "run/kovran-cmc7/");
    EXPECT_TRUE(IsPrivate(dir));
    EXPECT_TRUE(Logged("Using " + dir + "\r\n"));
    EXPECT_FALSE(fs::exists("/tmp/CMC7ImgDir"));
}

TEST_F(Cmc7PrivateDir, WithoutARuntimeDirectoryAUserDirectoryInTheTemporaryFolder) {
    for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/run"}) {
        ScopedEnv noRuntime("XDG_RUNTIME_DIR", runtime);
        fs::remove_all(UserTmpDir());
        const std::string dir = Prepare();
        EXPECT_EQ(dir, UserTmpDir()) << (runtime ? runtime : "unset");
        EXPECT_TRUE(IsPrivate(dir));
        EXPECT_TRUE(Logged("Using " + dir + "\r\n"));
    }
}

TEST_F(Cmc7PrivateDir, AnOpenDirectoryOfThisUserIsClosed) {
    fs::create_directory(tmp_ / "run/kovran-cmc7");
    ::chmod((tmp_ / "run/kovran-cmc7").c_str(), 0777);
    EXPECT_EQ(Prepare(), tmp_ / "run/kovran-cmc7/");
    EXPECT_TRUE(IsPrivate(tmp_ / "run/kovran-cmc7"));
    ::chmod((tmp_ / "run/kovran-cmc7").c_str(), 0750);
    EXPECT_EQ(Prepare(), tmp_ / "run/kovran-cmc7/");
    EXPECT_TRUE(IsPrivate(tmp_ / "run/kovran-cmc7"));
}

TEST_F(Cmc7PrivateDir, LinksFilesAndOtherOwnersAreRefused) {
    // A link to an open directory, and a file, where the directory should be.
    fs::create_directory(tmp_ / "open");
    ::chmod((tmp_ / "open").c_str(), 0777);
    fs::create_directory_symlink(tmp_ / "open", tmp_ / "run/kovran-cmc7");
    EXPECT_EQ(Prepare(), UserTmpDir());
    EXPECT_TRUE(Logged("war -  CMC7 image directory is not private " + (tmp_ / "run/kovran-cmc7/") +
                       "\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat((tmp_ / "open").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u) << "the link's target was changed";

    fs::remove_all(UserTmpDir());
    WriteFileBytes(UserTmpDir().substr(0, UserTmpDir().size() - 1), "x");
    EXPECT_EQ(Prepare(), "");
    EXPECT_FALSE(Settings().ocrIni.cmc7SaveImg);
    EXPECT_TRUE(Logged("err -  CMC7 images are not saved\r\n"));

    // A directory another user made in advance (only root can stage one).
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory to another user";
    fs::remove(tmp_ / "run/kovran-cmc7");
    fs::create_directory(tmp_ / "run/kovran-cmc7");
    ::chmod((tmp_ / "run/kovran-cmc7").c_str(), 0700);
    ASSERT_EQ(::chown((tmp_ / "run/kovran-cmc7").c_str(), 65534, 65534), 0);
    EXPECT_EQ(Prepare(), "");
    EXPECT_TRUE(Logged("war -  CMC7 image directory is not private " + (tmp_ / "run/kovran-cmc7/") +
                       "\r\n"));
    ASSERT_EQ(::stat((tmp_ / "run/kovran-cmc7").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(IniSettings, CopyMakesTheCurrentSettingsTheIniDefaults) {
    Load("[General]\nDoubleFeedCntMax=77\n[Ocr]\nCMC7Thr=91\nDebugImg=1\n");
    Settings().scan.doubleFeedCntMax = 5;
    Settings().ocr.cmc7Thr = 1;
    CopyIniDefaultsToCurrent();
    EXPECT_EQ(Settings().scan.doubleFeedCntMax, 77);
    EXPECT_EQ(Settings().ocr.cmc7Thr, 91);
    EXPECT_EQ(Settings().ocr.debugImgPath, Settings().ocrIni.debugImgPath);
    EXPECT_FALSE(Settings().ocr.debugImgPath.empty());
}

TEST_F(IniSettings, DatabaseDirectory) {
    Load(nullptr);
    EXPECT_EQ(DbDirectory(), Config().dir + "/");
    EXPECT_FALSE(Logged("changing DBDir"));
    WriteIni("[OCR]\nDBDir=/data/db\n");
    EXPECT_EQ(DbDirectory(), "/data/db/");
    EXPECT_TRUE(Logged("changing DBDir /data/db\r\n"));
    WriteIni("[OCR]\nDBDir=/data/db\\\n");
    EXPECT_EQ(DbDirectory(), "/data/db\\");
    Config().dir.clear();
    WriteIni("");
    EXPECT_EQ(DbDirectory(), "");
}

TEST_F(IniSettings, KeysReadWhenUsed) {
    Load(nullptr);
    EXPECT_EQ(IniH150Dpi(), std::nullopt);
    EXPECT_EQ(IniAutoquality(), 30);
    EXPECT_EQ(IniRotAuto(), 0);
    EXPECT_FALSE(IniAdfDisabled());
    EXPECT_EQ(IniLedLevIRRGB(), 150);
    EXPECT_EQ(IniLedLevIRGray(), 150);
    EXPECT_EQ(IniLedLevUVRGB(), 254);
    EXPECT_EQ(IniLedLevUVGray(), 254);
    EXPECT_EQ(IniFreccia01(), 0);

    // Read at call time: a changed file is seen at once.
    WriteIni(
        "[Image]\nh_150_dpi=2000\nAutoquality=55\n[Ocr]\nrotAuto=1\n[ADF]\ndisable=1\n"
        "[BackLight]\nLedLevIRRGB=300\nLedLevIRGray=-5\nLedLevUVRGB=12\n"
        "[Patch]\nFreccia01=2\n");
    EXPECT_EQ(IniH150Dpi(), 2000);
    EXPECT_EQ(IniAutoquality(), 55);
    EXPECT_EQ(IniRotAuto(), 1);
    EXPECT_TRUE(IniAdfDisabled());
    EXPECT_EQ(IniLedLevIRRGB(), 255);
    EXPECT_EQ(IniLedLevIRGray(), 0);
    EXPECT_EQ(IniLedLevUVRGB(), 12);
    EXPECT_EQ(IniFreccia01(), 2);

    for (const char* none : {"", "-1", "-99999999999"}) {
        WriteIni(std::string("[Image]\nh_150_dpi=") + none + "\n");
        EXPECT_EQ(IniH150Dpi(), std::nullopt) << none;
    }
    WriteIni("[Image]\nh_150_dpi=abc\n");
    EXPECT_EQ(IniH150Dpi(), 0);
}

}  // namespace
}  // namespace kovran
