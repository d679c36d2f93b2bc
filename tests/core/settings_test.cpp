// The settings file is a format other programs' files may depend on: these tests write and
// read real files byte by byte, with the expected layout spelled out here, not taken from
// the code under test.

#include "display/palette.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace korv;

namespace {

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("korv-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "korv.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeBytes(const std::vector<std::uint8_t>& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    [[nodiscard]] std::vector<std::uint8_t> readBytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    std::string path_;
};

std::int32_t wordAt(const std::vector<std::uint8_t>& b, std::size_t off) {
    const std::uint32_t u =
        b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<std::uint32_t>(b[off + 3]) << 24;
    std::int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
}

float floatAt(const std::vector<std::uint8_t>& b, std::size_t off) {
    const std::int32_t w = wordAt(b, off);
    float f;
    std::memcpy(&f, &w, 4);
    return f;
}

void putWord(std::vector<std::uint8_t>& b, std::size_t off, std::int32_t v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int i = 0; i < 4; ++i) {
        b[off + i] = static_cast<std::uint8_t>(u >> (8 * i));
    }
}

std::vector<std::uint8_t> emptyValidImage() {
    std::vector<std::uint8_t> b(948, 0);
    putWord(b, 0, 6000);
    return b;
}

// The stored words from offset 424 in file order, with the value each default has.
struct StoredWord {
    std::size_t offset;
    std::int32_t AppSettings::*field;
    std::int32_t defaultValue;
};

const std::vector<StoredWord>& intWords() {
    static const std::vector<StoredWord> words{
        {424, &AppSettings::lastMode, 0},
        {428, &AppSettings::sampleRateChoice, 1165},
        {432, &AppSettings::resolutionChoice, 1008},
        {436, &AppSettings::fftSizeChoice, 1083},
        {440, &AppSettings::paletteChoice, 1046},
        {444, &AppSettings::dbScaleChoice, 1141},
        {448, &AppSettings::displayTypeChoice, 1061},
        {452, &AppSettings::analysisAtStopChoice, 1146},
        {456, &AppSettings::freqScaleChoice, 1076},
        {460, &AppSettings::channelChoice, 1089},
        {464, &AppSettings::typeChoice, 1013},
        {468, &AppSettings::plotTypeChoice, 1159},
        {472, &AppSettings::recordingChoice, 1109},
        {476, &AppSettings::scrollMemChoice, 1121},
        {484, &AppSettings::levelScaleCode, -9},
        {488, &AppSettings::displayDelayMs, 75},
        {492, &AppSettings::lowBandHz, 0},
        {496, &AppSettings::highBandHz, 6000},
        {500, &AppSettings::lastFileMode, 0},
        {508, &AppSettings::averageCountScroll, 1},
        {512, &AppSettings::averageCountPlot, 20},
        {516, &AppSettings::marker1Hz, 0},
        {520, &AppSettings::marker2Hz, 0},
        {528, &AppSettings::imageScalePercent, 100},
        {532, &AppSettings::spareSetting, 300},
        {536, &AppSettings::resolutionFactor, 10},
        {540, &AppSettings::variablesChoice, 40055},
        {544, &AppSettings::pointerType, 1},
        {548, &AppSettings::cursorOffsetHz, 0},
        {552, &AppSettings::pitchDetectorChoice, 1144},
    };
    return words;
}

// Frequencies 10 .. 80000 Hz and the non-zero corrections of the default curve.
std::array<std::pair<double, float>, 40> expectedDefaultCurve() {
    const std::array<double, 10> base{10, 12.5, 16, 20, 25, 31.5, 40, 50, 63, 80};
    std::array<std::pair<double, float>, 40> curve{};
    for (int decade = 0; decade < 4; ++decade) {
        for (int i = 0; i < 10; ++i) {
            curve[decade * 10 + i] = {base[i] * std::pow(10.0, decade), 0.0f};
        }
    }
    for (int i = 0; i < 9; ++i) {
        curve[i].second = static_cast<float>(9 - i);
    }
    curve[31].second = 1.0f; // 12.5 kHz
    curve[32].second = 2.0f; // 16 kHz
    curve[33].second = 3.0f; // 20 kHz
    return curve;
}

} // namespace

TEST(SettingsPath, SitsBesideTheExecutable) {
    EXPECT_EQ(settingsPath("/opt/korv/bin/korvanthile"), "/opt/korv/bin/korv.ini");
    EXPECT_EQ(settingsPath("/korvanthile.exe"), "/korv.ini");
    EXPECT_EQ(settingsPath("korvanthile"), "korv.ini");
}

TEST_F(SettingsFile, MissingFileKeepsDefaultsAndCbPalettes) {
    AppSettings s;
    s.userPalette = kBwPalette;
    LevelPalette active = kBwPalette;
    loadSettings(path_, s, active);
    EXPECT_FALSE(s.settingsLoaded);
    EXPECT_EQ(active, kCbPalette);
    EXPECT_EQ(s.userPalette, kCbPalette);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsFile, SaveAfterFreshStartWritesTheDocumentedLayout) {
    AppSettings s;
    LevelPalette active = kCbPalette;
    loadSettings(path_, s, active);
    saveSettings(path_, s, 0);
    const auto b = readBytes();
    ASSERT_EQ(b.size(), 948u);
    EXPECT_EQ(wordAt(b, 0), 6000);
    // Empty texts: every byte of the three text fields is zero.
    for (std::size_t i = 4; i < 424; ++i) {
        ASSERT_EQ(b[i], 0) << "text byte " << i;
    }
    for (const auto& w : intWords()) {
        EXPECT_EQ(wordAt(b, w.offset), w.defaultValue) << "offset " << w.offset;
    }
    EXPECT_FLOAT_EQ(floatAt(b, 480), 4.0f);
    EXPECT_EQ(wordAt(b, 504), 0) << "no data held: sample rate 0";
    EXPECT_FLOAT_EQ(floatAt(b, 524), 0.0f);
    for (int e = 0; e < 18; ++e) {
        EXPECT_EQ(b[556 + 4 * e], kCbPalette[e].r);
        EXPECT_EQ(b[556 + 4 * e + 1], kCbPalette[e].g);
        EXPECT_EQ(b[556 + 4 * e + 2], kCbPalette[e].b);
        EXPECT_EQ(b[556 + 4 * e + 3], 0);
    }
    const auto curve = expectedDefaultCurve();
    for (int p = 0; p < 40; ++p) {
        EXPECT_EQ(floatAt(b, 628 + 8 * p), static_cast<float>(curve[p].first)) << "point " << p;
        EXPECT_EQ(floatAt(b, 632 + 8 * p), curve[p].second) << "point " << p;
    }

    // Loading that file gives back the same option values.
    AppSettings again;
    again.fftSizeChoice = 1087;
    LevelPalette active2{};
    loadSettings(path_, again, active2);
    EXPECT_TRUE(again.settingsLoaded);
    for (const auto& w : intWords()) {
        EXPECT_EQ(again.*(w.field), s.*(w.field)) << "offset " << w.offset;
    }
    EXPECT_EQ(again.storedSampleRateHz, 0);
    EXPECT_EQ(again.calibrationTable, s.calibrationTable);
    EXPECT_EQ(active2, kCbPalette);
}

TEST_F(SettingsFile, EveryFieldRoundTripsThroughTheFile) {
    AppSettings s;
    s.reservedTextA = "first reserved";
    s.reservedTextB = "second";
    s.lastFolder = "/home/someone/recordings/";
    std::int32_t v = 7001;
    for (const auto& w : intWords()) {
        s.*(w.field) = v++;
    }
    s.paletteChoice = 1048;
    s.timeScaleMsecSaved = 2.5f;
    s.freqResolutionHz = 21.53f;
    for (int e = 0; e < 18; ++e) {
        s.userPalette[e] = {static_cast<std::uint8_t>(e), static_cast<std::uint8_t>(100 + e),
                            static_cast<std::uint8_t>(250 - e)};
    }
    for (int p = 0; p < 40; ++p) {
        s.calibrationTable[p] = {static_cast<float>(p * 11.5), static_cast<float>(p % 7) - 3.0f};
    }
    saveSettings(path_, s, 48000);

    const auto b = readBytes();
    ASSERT_EQ(b.size(), 948u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), s.reservedTextA);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[84])), s.reservedTextB);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[164])), s.lastFolder);
    EXPECT_EQ(wordAt(b, 504), 48000);

    AppSettings back;
    LevelPalette active{};
    loadSettings(path_, back, active);
    // sampleRateChoice is out of range (7002), so start-up replaces it.
    EXPECT_EQ(back.sampleRateChoice, 1165);
    for (const auto& w : intWords()) {
        if (w.field != &AppSettings::sampleRateChoice) {
            EXPECT_EQ(back.*(w.field), s.*(w.field)) << "offset " << w.offset;
        }
    }
    EXPECT_EQ(back.reservedTextA, s.reservedTextA);
    EXPECT_EQ(back.reservedTextB, s.reservedTextB);
    EXPECT_EQ(back.lastFolder, s.lastFolder);
    EXPECT_EQ(back.timeScaleMsecSaved, 2.5f);
    EXPECT_EQ(back.freqResolutionHz, 21.53f);
    EXPECT_EQ(back.storedSampleRateHz, 48000);
    EXPECT_EQ(back.userPalette, s.userPalette);
    EXPECT_EQ(active, s.userPalette) << "paletteChoice 1048 makes the User table active";
    EXPECT_EQ(back.calibrationTable, s.calibrationTable);
    EXPECT_EQ(back.verticalScrollPos, back.levelScaleCode + 15);
}

TEST_F(SettingsFile, WrongSizeOrMagicIsDeletedAndDefaultsStay) {
    for (const std::size_t size : {0u, 947u, 949u, 2000u}) {
        auto b = emptyValidImage();
        b.resize(size, 0);
        writeBytes(b);
        AppSettings s;
        LevelPalette active{};
        loadSettings(path_, s, active);
        EXPECT_FALSE(fs::exists(path_)) << size;
        EXPECT_FALSE(s.settingsLoaded) << size;
        EXPECT_EQ(s.fftSizeChoice, 1083) << size;
        EXPECT_EQ(active, kCbPalette) << size;
    }
    auto b = emptyValidImage();
    putWord(b, 0, 6001);
    putWord(b, 436, 1087);
    writeBytes(b);
    AppSettings s;
    LevelPalette active{};
    loadSettings(path_, s, active);
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(s.fftSizeChoice, 1083);
}

TEST_F(SettingsFile, AllZeroFileWithMagicIsAppliedAsStored) {
    writeBytes(emptyValidImage());
    AppSettings s;
    LevelPalette active = kBwPalette;
    loadSettings(path_, s, active);
    EXPECT_TRUE(s.settingsLoaded);
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_EQ(s.sampleRateChoice, 1165);
    EXPECT_EQ(s.fftSizeChoice, 0) << "no other field is validated";
    EXPECT_EQ(s.highBandHz, 0);
    EXPECT_EQ(s.levelScaleCode, 0);
    EXPECT_EQ(s.verticalScrollPos, 15);
    // paletteChoice 0 names no table: the active palette stays as it was.
    EXPECT_EQ(active, kBwPalette);
    EXPECT_EQ(s.userPalette[0], (Rgb{0, 0, 0}));
}

TEST_F(SettingsFile, SampleRateChoiceIsCheckedOnlyAtStartUp) {
    auto b = emptyValidImage();
    putWord(b, 428, 1168);
    putWord(b, 440, 1046);
    writeBytes(b);
    AppSettings s;
    LevelPalette active{};
    loadSettings(path_, s, active);
    EXPECT_EQ(s.sampleRateChoice, 1165);
    EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::FileApplied);
    EXPECT_EQ(s.sampleRateChoice, 1168);
    for (const std::int32_t ok : {1163, 1164, 1165, 1166, 1167}) {
        putWord(b, 428, ok);
        writeBytes(b);
        loadSettings(path_, s, active);
        EXPECT_EQ(s.sampleRateChoice, ok);
    }
}

TEST_F(SettingsFile, PaletteChoiceSelectsTheActiveTable) {
    auto b = emptyValidImage();
    for (int e = 0; e < 18; ++e) {
        b[556 + 4 * e] = static_cast<std::uint8_t>(3 * e);
        b[556 + 4 * e + 1] = static_cast<std::uint8_t>(5 * e);
        b[556 + 4 * e + 2] = static_cast<std::uint8_t>(7 * e);
        b[556 + 4 * e + 3] = 0xAB; // ignored on reading, written back as 0
    }
    putWord(b, 440, 1048);
    writeBytes(b);
    AppSettings s;
    LevelPalette active{};
    loadSettings(path_, s, active);
    for (int e = 0; e < 18; ++e) {
        const Rgb want{static_cast<std::uint8_t>(3 * e), static_cast<std::uint8_t>(5 * e),
                       static_cast<std::uint8_t>(7 * e)};
        EXPECT_EQ(active[e], want);
        EXPECT_EQ(s.userPalette[e], want);
    }
    saveSettings(path_, s, 0);
    const auto written = readBytes();
    for (int e = 0; e < 18; ++e) {
        EXPECT_EQ(written[556 + 4 * e + 3], 0) << "entry " << e;
    }

    putWord(b, 440, 1047);
    writeBytes(b);
    loadSettings(path_, s, active);
    EXPECT_EQ(active, kBwPalette);
}

TEST_F(SettingsFile, TextsNeverRunPastTheirField) {
    auto b = emptyValidImage();
    std::memset(&b[4], 'A', 80);    // no terminator in reservedTextA
    std::memset(&b[84], 'B', 80);   // nor in reservedTextB
    std::memset(&b[164], 'C', 260); // nor in lastFolder
    writeBytes(b);
    AppSettings s;
    LevelPalette active{};
    loadSettings(path_, s, active);
    EXPECT_EQ(s.reservedTextA, std::string(80, 'A'));
    EXPECT_EQ(s.reservedTextB, std::string(80, 'B'));
    EXPECT_EQ(s.lastFolder, std::string(260, 'C'));

    // Saving over-long texts must not spill into the next field, and each keeps a terminator.
    s.reservedTextA = std::string(200, 'x');
    s.lastFolder = std::string(400, 'y');
    s.lastMode = 3;
    saveSettings(path_, s, 0);
    const auto w = readBytes();
    ASSERT_EQ(w.size(), 948u);
    EXPECT_EQ(w[83], 0);
    EXPECT_EQ(w[84], 'B');
    EXPECT_EQ(w[423], 0);
    EXPECT_EQ(wordAt(w, 424), 3);
}

TEST_F(SettingsFile, ReloadWithoutFileAppliesTheReloadDefaults) {
    AppSettings s;
    s.fftSizeChoice = 1085;
    s.timeScaleMsec = 3.0f;
    s.highBandHz = 11000;
    s.levelScaleCode = 4;
    s.marker1Hz = 440;
    s.pointerType = 3;
    s.averageCountScroll = 7; // not among the reload defaults
    s.lastFolder = "/keep/";
    LevelPalette active = kBwPalette;
    EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::DefaultsApplied);
    EXPECT_EQ(s.fftSizeChoice, 1082);
    EXPECT_FLOAT_EQ(s.timeScaleMsec, 12.0f);
    EXPECT_EQ(s.highBandHz, 6000);
    EXPECT_EQ(s.levelScaleCode, -9);
    EXPECT_EQ(s.verticalScrollPos, 6);
    EXPECT_EQ(s.marker1Hz, 0);
    EXPECT_EQ(s.pointerType, 1);
    EXPECT_EQ(s.paletteChoice, 1046);
    EXPECT_EQ(s.averageCountScroll, 7);
    EXPECT_EQ(s.lastFolder, "/keep/");
    EXPECT_FALSE(s.settingsLoaded);
}

TEST_F(SettingsFile, ReloadNeverDeletesAndKeepsTheLastFolder) {
    auto b = emptyValidImage();
    putWord(b, 436, 1086);
    const char folder[] = "/stored/";
    std::memcpy(&b[164], folder, sizeof folder);
    writeBytes(b);
    AppSettings s;
    s.lastFolder = "/current/";
    LevelPalette active{};
    EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::FileApplied);
    EXPECT_EQ(s.fftSizeChoice, 1086);
    EXPECT_EQ(s.lastFolder, "/current/");
    EXPECT_TRUE(s.settingsLoaded);

    b.resize(900);
    writeBytes(b);
    EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::DefaultsApplied);
    EXPECT_TRUE(fs::exists(path_)) << "reload leaves a bad file in place";
}

TEST_F(SettingsFile, SavingSomewhereUnwritableIsSilent) {
    AppSettings s;
    saveSettings((dir_ / "no-such-dir" / "korv.ini").string(), s, 0);
    EXPECT_FALSE(fs::exists(dir_ / "no-such-dir"));
}

TEST_F(SettingsFile, SaveReplacesALongerFileWhole) {
    // A stray tail would make the next start delete the file as the wrong size.
    writeBytes(std::vector<std::uint8_t>(2000, 0x55));
    AppSettings s;
    saveSettings(path_, s, 0);
    EXPECT_EQ(fs::file_size(path_), 948u);
    AppSettings back;
    LevelPalette active{};
    loadSettings(path_, back, active);
    EXPECT_TRUE(back.settingsLoaded);
}
