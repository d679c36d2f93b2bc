// The settings file is a format other programs' files may depend on: these tests write and
// read real files byte by byte, with the expected layout spelled out here, not taken from
// the code under test.

#include "display/palette.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace korv;

namespace {

class SettingsFile : public ::testing::Test {
  protected:
    void writeBytes(const test::Bytes& bytes) const { test::writeFile(path_, bytes); }
    [[nodiscard]] test::Bytes readBytes() const { return test::readFile(path_); }
    // What a start reads from the file; the palette it makes active is left in active_.
    AppSettings load(const std::string& path = {}) {
        AppSettings s;
        active_ = {};
        loadSettings(path.empty() ? path_ : path, s, active_);
        return s;
    }

    test::TempFolder temp_;
    fs::path dir_{temp_.folder()};
    std::string path_ = temp_.file("korv.ini");
    LevelPalette active_{};
};

std::int32_t wordAt(const test::Bytes& b, std::size_t off) {
    return static_cast<std::int32_t>(test::le32At(b, off));
}

float floatAt(const test::Bytes& b, std::size_t off) {
    return std::bit_cast<float>(test::le32At(b, off));
}

std::vector<std::uint8_t> emptyValidImage() {
    std::vector<std::uint8_t> b(948, 0);
    test::putLeAt(b, 0, 6000);
    return b;
}

// The stored words from offset 424 in file order, with the value each default has and
// another value it may hold.
struct StoredWord {
    std::size_t offset;
    std::int32_t AppSettings::*field;
    std::int32_t defaultValue;
    std::int32_t otherValid;
};

const StoredWord kIntWords[] = {
    {424, &AppSettings::lastMode, 0, 4},
    {428, &AppSettings::sampleRateChoice, 1165, 1167},
    {432, &AppSettings::resolutionChoice, 1008, 1007},
    {436, &AppSettings::fftSizeChoice, 1083, 1087},
    {440, &AppSettings::paletteChoice, 1046, 1048},
    {444, &AppSettings::dbScaleChoice, 1141, 1142},
    {448, &AppSettings::displayTypeChoice, 1061, 1063},
    {452, &AppSettings::analysisAtStopChoice, 1146, 1147},
    {456, &AppSettings::freqScaleChoice, 1076, 1078},
    {460, &AppSettings::channelChoice, 1089, 1091},
    {464, &AppSettings::typeChoice, 1013, 1014},
    {468, &AppSettings::plotTypeChoice, 1159, 1161},
    {472, &AppSettings::recordingChoice, 1109, 1124},
    {476, &AppSettings::scrollMemChoice, 1121, 1122},
    {484, &AppSettings::levelScaleCode, -9, 15},
    {488, &AppSettings::displayDelayMs, 75, 0},
    {492, &AppSettings::lowBandHz, 0, 250},
    {496, &AppSettings::highBandHz, 6000, 22050},
    {500, &AppSettings::lastFileMode, 0, 1},
    {508, &AppSettings::averageCountScroll, 1, 128},
    {512, &AppSettings::averageCountPlot, 20, 1},
    {516, &AppSettings::marker1Hz, 0, 440},
    {520, &AppSettings::marker2Hz, 0, -5},
    {528, &AppSettings::imageScalePercent, 100, 250},
    {532, &AppSettings::spareSetting, 300, -123456},
    {536, &AppSettings::resolutionFactor, 10, 100},
    {540, &AppSettings::variablesChoice, 40055, 40056},
    {544, &AppSettings::pointerType, 1, 3},
    {548, &AppSettings::cursorOffsetHz, 0, INT32_MIN},
    {552, &AppSettings::pitchDetectorChoice, 1144, 1145},
};

// The value loaded from the word at a file offset.
double fieldAt(const AppSettings& s, std::size_t off) {
    if (off == 480) {
        return s.timeScaleMsecSaved;
    }
    if (off == 524) {
        return s.freqResolutionHz;
    }
    if (off >= 628) {
        const auto& point = s.calibrationTable[(off - 628) / 8];
        return (off - 628) % 8 == 0 ? point.frequencyHz : point.correctionDb;
    }
    const auto* w = std::ranges::find(kIntWords, off, &StoredWord::offset);
    EXPECT_NE(w, std::end(kIntWords)) << "no field at " << off;
    return w == std::end(kIntWords) ? 0 : s.*(w->field);
}

// Frequencies 10 .. 80000 Hz in third-octave steps, every correction 0 dB: a fresh start
// corrects nothing.
std::array<std::pair<double, float>, 40> expectedDefaultCurve() {
    const std::array<double, 10> base{10, 12.5, 16, 20, 25, 31.5, 40, 50, 63, 80};
    std::array<std::pair<double, float>, 40> curve{};
    for (int p = 0; p < 40; ++p) {
        curve[p] = {base[p % 10] * std::pow(10.0, p / 10), 0.0f};
    }
    return curve;
}

} // namespace

// The paths from their parts; then the program's own choice, from its environment: a file
// beside the executable wins, so a portable installation keeps its settings.
TEST_F(SettingsFile, PathsFollowTheXdgRulesAndPreferAFileBesideTheExecutable) {
    EXPECT_EQ(settingsPathBesideExecutable("/opt/korv/bin/korvanthile"), "/opt/korv/bin/korv.ini");
    EXPECT_EQ(settingsPathBesideExecutable("/korvanthile.exe"), "/korv.ini");
    EXPECT_EQ(settingsPathBesideExecutable("korvanthile"), "korv.ini");

    EXPECT_EQ(userSettingsPath("/x/conf", "/home/u"), "/x/conf/korvanthile/korv.ini");
    EXPECT_EQ(userSettingsPath("/x/conf//", "/home/u"), "/x/conf/korvanthile/korv.ini");
    // Unset, empty or relative: the default below the home folder.
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "conf"}) {
        EXPECT_EQ(userSettingsPath(xdg, "/home/u"), "/home/u/.config/korvanthile/korv.ini");
    }
    EXPECT_EQ(userSettingsPath(nullptr, nullptr), "");
    EXPECT_EQ(userSettingsPath("", "relative"), "");

    const fs::path bin = dir_ / "bin";
    const fs::path config = dir_ / "config";
    fs::create_directories(bin);
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config.c_str(), 1), 0);
    const std::string executable = (bin / "korvanthile").string();
    // The first save makes the folder, private to the user. (The path in it, the file and its
    // reading back: MainWindowTest.SettingsLiveInTheUserConfigFolder.)
    EXPECT_TRUE(saveSettings(settingsPath(executable), AppSettings{}, 0));
    EXPECT_EQ(fs::status(config / "korvanthile").permissions() & fs::perms::all,
              fs::perms::owner_all);

    std::ofstream((bin / "korv.ini").string()).put('x');
    EXPECT_EQ(settingsPath(executable), (bin / "korv.ini").string());
    ::unsetenv("XDG_CONFIG_HOME");
}

// A FIFO in the file's place is no file either: opening it must not wait for a writer. A
// reload without a file applies the reload defaults to some settings and keeps the others.
TEST_F(SettingsFile, MissingFileOrFifoKeepsDefaultsAndCbPalettes) {
    for (const bool fifo : {false, true}) {
        if (fifo) {
            ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
        }
        AppSettings s;
        s.userPalette = kBwPalette;
        LevelPalette active = kBwPalette;
        loadSettings(path_, s, active);
        EXPECT_FALSE(s.settingsLoaded);
        EXPECT_EQ(active, kCbPalette);
        EXPECT_EQ(s.userPalette, kCbPalette);
        // Each away from its reload default; the last is not among them and stays.
        const StoredWord reloaded[] = {{0, &AppSettings::fftSizeChoice, 1082, 1085},
                                       {0, &AppSettings::highBandHz, 6000, 11000},
                                       {0, &AppSettings::levelScaleCode, -9, 4},
                                       {0, &AppSettings::marker1Hz, 0, 440},
                                       {0, &AppSettings::pointerType, 1, 3},
                                       {0, &AppSettings::paletteChoice, 1046, 1047},
                                       {0, &AppSettings::averageCountScroll, 7, 7}};
        for (const auto& w : reloaded) {
            s.*(w.field) = w.otherValid;
        }
        s.timeScaleMsec = 3.0f;
        s.lastFolder = "/keep/";
        EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::DefaultsApplied);
        EXPECT_EQ(fs::is_fifo(path_), fifo) << "left in place";
        for (const auto& w : reloaded) {
            EXPECT_EQ(s.*(w.field), w.defaultValue) << w.defaultValue;
        }
        EXPECT_FLOAT_EQ(s.timeScaleMsec, 12.0f);
        EXPECT_EQ(s.verticalScrollPos, 6);
        EXPECT_EQ(s.lastFolder, "/keep/");
        EXPECT_FALSE(s.settingsLoaded);
    }
}

TEST_F(SettingsFile, SaveAfterFreshStartWritesTheDocumentedLayout) {
    const AppSettings s = load();
    ASSERT_TRUE(saveSettings(path_, s, 0));
    const auto b = readBytes();
    ASSERT_EQ(b.size(), 948u);
    EXPECT_EQ(wordAt(b, 0), 6000);
    // Empty texts: every byte of the three text fields is zero.
    EXPECT_EQ(test::Bytes(b.begin() + 4, b.begin() + 424), test::Bytes(420, 0));
    for (const auto& w : kIntWords) {
        EXPECT_EQ(wordAt(b, w.offset), w.defaultValue) << "offset " << w.offset;
    }
    EXPECT_FLOAT_EQ(floatAt(b, 480), 4.0f);
    EXPECT_EQ(wordAt(b, 504), 0) << "no data held: sample rate 0";
    EXPECT_FLOAT_EQ(floatAt(b, 524), 0.0f);
    test::Bytes palette;
    for (const Rgb& c : kCbPalette) {
        palette.insert(palette.end(), {c.r, c.g, c.b, 0});
    }
    EXPECT_EQ(test::Bytes(b.begin() + 556, b.begin() + 628), palette);
    const auto curve = expectedDefaultCurve();
    for (int p = 0; p < 40; ++p) {
        EXPECT_EQ(floatAt(b, 628 + 8 * p), static_cast<float>(curve[p].first)) << "point " << p;
        EXPECT_EQ(floatAt(b, 632 + 8 * p), curve[p].second) << "point " << p;
    }
}

TEST_F(SettingsFile, EveryFieldRoundTripsThroughTheFile) {
    AppSettings s;
    s.reservedTextA = "first reserved";
    s.reservedTextB = "second";
    s.lastFolder = "/home/someone/recordings/";
    for (const auto& w : kIntWords) {
        s.*(w.field) = w.otherValid;
    }
    s.timeScaleMsecSaved = 2.5f;
    s.freqResolutionHz = 21.53f;
    for (int e = 0; e < 18; ++e) {
        s.userPalette[e] = {static_cast<std::uint8_t>(e), static_cast<std::uint8_t>(100 + e),
                            static_cast<std::uint8_t>(250 - e)};
    }
    for (int p = 0; p < 40; ++p) {
        s.calibrationTable[p] = {static_cast<float>(5 + p * 11.5),
                                 static_cast<float>(p % 7) - 3.5f};
    }
    ASSERT_TRUE(saveSettings(path_, s, 48000));

    const auto b = readBytes();
    ASSERT_EQ(b.size(), 948u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), s.reservedTextA);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[84])), s.reservedTextB);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[164])), s.lastFolder);
    EXPECT_EQ(wordAt(b, 504), 48000);

    const AppSettings back = load();
    for (const auto& w : kIntWords) {
        EXPECT_EQ(back.*(w.field), s.*(w.field)) << "offset " << w.offset;
    }
    EXPECT_EQ(std::tie(back.reservedTextA, back.reservedTextB, back.lastFolder),
              std::tie(s.reservedTextA, s.reservedTextB, s.lastFolder));
    EXPECT_EQ(std::tuple(back.timeScaleMsecSaved, back.freqResolutionHz, back.storedSampleRateHz),
              std::tuple(2.5f, 21.53f, 48000));
    EXPECT_EQ(back.userPalette, s.userPalette);
    EXPECT_EQ(back.calibrationTable, s.calibrationTable);
    // Max Over Step lives in the spare word: what older files hold there reads as off.
    EXPECT_FALSE(maxOverStep(back));
}

TEST_F(SettingsFile, WrongSizeOrMagicIsDeletedAtStartUpKeptByReloadAndDefaultsStay) {
    for (const std::size_t size : {0u, 947u, 949u, 2000u, 948u}) {
        SCOPED_TRACE(size);
        auto b = emptyValidImage();
        b.resize(size, 0);
        if (size == 948) { // the right size with a wrong magic
            test::putLeAt(b, 0, 6001);
            test::putLeAt(b, 436, 1087);
        }
        writeBytes(b);
        AppSettings s;
        EXPECT_EQ(reloadSettings(path_, s, active_), ReloadOutcome::DefaultsApplied);
        EXPECT_TRUE(fs::exists(path_)) << "reload leaves a bad file in place";
        s = load();
        EXPECT_FALSE(fs::exists(path_));
        EXPECT_FALSE(s.settingsLoaded);
        EXPECT_EQ(s.fftSizeChoice, 1083);
        EXPECT_EQ(active_, kCbPalette);
    }
}

// Values no dialog or analysis accepts come back within their range, or as the default,
// from both readers; and what was read saves and reads back unchanged.
TEST_F(SettingsFile, HostileValuesComeBackValid) {
    const float nan = std::nanf("");
    struct Case {
        std::vector<std::pair<std::size_t, std::uint32_t>> stored; // on the all-zero image
        std::vector<std::pair<std::size_t, double>> expected;
    };
    const auto w = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    const auto f = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    const std::vector<Case> cases{
        // All zeros: every choice and range falls back; 0 is a valid band start and mode.
        {{}, {{424, 0},    {436, 1083}, {440, 1046}, {444, 1141},  {448, 1061}, {456, 1076},
              {472, 1109}, {480, 1.0},  {484, 0},    {492, 0},     {496, 6000}, {508, 1},
              {512, 1},    {528, 100},  {536, 10},   {540, 40055}, {544, 1},    {552, 1144},
              {628, 10.0}, {636, 12.5}, {632, 0.0}}},
        {{{436, w(9999)}, {536, w(1000)}, {544, w(7)}, {440, w(7)}, {460, w(1092)}},
         {{436, 1083}, {536, 100}, {544, 1}, {440, 1046}, {460, 1089}}},
        {{{484, w(INT32_MAX)}, {508, w(100000)}, {512, w(-3)}, {472, w(1111)}, {424, w(5)}},
         {{484, 15}, {508, 128}, {512, 1}, {472, 1109}, {424, 0}}},
        {{{484, w(INT32_MIN)}, {488, w(-1)}, {528, w(INT32_MAX)}, {540, w(40057)}},
         {{484, -15}, {488, 0}, {528, 1000}, {540, 40055}}},
        {{{480, f(nan)}, {524, f(nan)}, {492, w(8000)}, {496, w(6000)}},
         {{480, 4.0}, {524, 0.0}, {492, 0}, {496, 6000}}},
        {{{480, f(-3.0f)}, {524, f(-1.0f)}, {492, w(-5)}, {496, w(3000)}},
         {{480, 1.0}, {524, 0.0}, {492, 0}, {496, 3000}}},
        {{{480, f(1e30f)}, {456, w(1077)}, {492, w(0)}, {496, w(9000)}},
         {{480, 500.0}, {492, 100}, {496, 6000}}},
        // A NaN or huge correction and frequencies out of order.
        {{{628, f(20.0f)},
          {636, f(10.0f)},
          {640, f(nan)},
          {648, f(5.0f)},
          {656, f(1e9f)},
          {664, f(-45.5f)}},
         {{628, 10.0}, {636, 12.5}, {632, 0.0}, {640, 0.0}, {656, 30.0}, {664, -30.0}}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        auto b = emptyValidImage();
        for (const auto& [off, bits] : cases[c].stored) {
            test::putLeAt(b, off, bits);
        }
        for (const bool reload : {false, true}) {
            // What a start or a reload reads; the palette it makes active is left in active_.
            const auto read = [&] {
                AppSettings into;
                active_ = kBwPalette;
                if (reload) {
                    EXPECT_EQ(reloadSettings(path_, into, active_), ReloadOutcome::FileApplied);
                } else {
                    loadSettings(path_, into, active_);
                }
                return into;
            };
            writeBytes(b);
            const AppSettings s = read();
            for (const auto& [off, want] : cases[c].expected) {
                EXPECT_EQ(fieldAt(s, off), want) << "case " << c << " offset " << off;
            }
            EXPECT_EQ(s.verticalScrollPos, s.levelScaleCode + 15);
            EXPECT_EQ(active_, s.paletteChoice == 1046 ? kCbPalette : kBwPalette) << c;

            ASSERT_TRUE(saveSettings(path_, s, s.storedSampleRateHz));
            EXPECT_TRUE(read() == s) << "case " << c << (reload ? " reload" : " load");
        }
    }
}

// A reload takes the file as it is, but keeps the folder of this session.
TEST_F(SettingsFile, SampleRateChoiceIsCheckedOnlyAtStartUpAndReloadKeepsTheLastFolder) {
    auto b = emptyValidImage();
    test::putLeAt(b, 428, 1168);
    test::putLeAt(b, 436, 1086);
    test::putLeAt(b, 440, 1046);
    const char folder[] = "/stored/";
    std::memcpy(&b[164], folder, sizeof folder);
    writeBytes(b);
    AppSettings s = load();
    EXPECT_EQ(s.sampleRateChoice, 1165);
    s = {};
    s.lastFolder = "/current/";
    EXPECT_EQ(reloadSettings(path_, s, active_), ReloadOutcome::FileApplied);
    EXPECT_EQ(s.sampleRateChoice, 1168);
    EXPECT_EQ(s.fftSizeChoice, 1086);
    EXPECT_EQ(s.lastFolder, "/current/");
    EXPECT_TRUE(s.settingsLoaded);
    // The five of old and the higher and lower rates an input may offer (8 .. 384 kHz); no
    // other id.
    for (const std::int32_t id : {1163, 1164, 1165, 1166, 1167, 1170, 1176, 1178, 1169, 1179}) {
        test::putLeAt(b, 428, id);
        writeBytes(b);
        EXPECT_EQ(load().sampleRateChoice, id == 1169 || id == 1179 ? 1165 : id) << id;
    }
}

// The channels of a wide file and Max Over Step share the spare word, each keeping the other.
TEST_F(SettingsFile, TheChannelsOfAWideFileAndMaxOverStepLiveInTheSpareWord) {
    const auto channels = [](const AppSettings& s) {
        return std::pair{fileChannelsOf(s).first, fileChannelsOf(s).second};
    };
    // Every older file holds 300 there: channels 1 and 2, as always, and Max Over Step off.
    AppSettings s;
    EXPECT_EQ(channels(s), std::pair(1, 2));
    EXPECT_FALSE(maxOverStep(s));
    setFileChannels(s, {3, 64});
    setMaxOverStep(s, true);
    ASSERT_TRUE(saveSettings(path_, s, 0));
    AppSettings again = load();
    EXPECT_EQ(channels(again), std::pair(3, 64));
    EXPECT_TRUE(maxOverStep(again));
    setFileChannels(again, {64, 1});
    EXPECT_TRUE(maxOverStep(again));
    setMaxOverStep(again, false);
    EXPECT_FALSE(maxOverStep(again));
    EXPECT_EQ(channels(again), std::pair(64, 1));
    // A channel 0 or beyond 64 in the word is no choice.
    for (const std::uint32_t word : {0x4B430002U, 0x4B430141U}) {
        again.spareSetting = static_cast<std::int32_t>(word);
        EXPECT_EQ(channels(again), std::pair(1, 2));
    }
}

// Texts without their terminator and palette entries with a fourth byte, read and written back.
TEST_F(SettingsFile, TextsNeverRunPastTheirFieldAndThePaletteChoiceSelectsTheActiveTable) {
    auto b = emptyValidImage();
    std::memset(&b[4], 'A', 80);    // no terminator in reservedTextA
    std::memset(&b[84], 'B', 80);   // nor in reservedTextB
    std::memset(&b[164], 'C', 260); // nor in lastFolder
    LevelPalette want{};
    for (int e = 0; e < 18; ++e) {
        want[e] = {static_cast<std::uint8_t>(3 * e), static_cast<std::uint8_t>(5 * e),
                   static_cast<std::uint8_t>(7 * e)};
        const std::uint8_t entry[] = {want[e].r, want[e].g, want[e].b, 0xAB}; // 0xAB: ignored
        std::memcpy(&b[556 + 4 * e], entry, 4);
    }
    test::putLeAt(b, 440, 1048);
    writeBytes(b);
    AppSettings s = load();
    // Each keeps room for the terminator it is written with.
    EXPECT_EQ(std::tie(s.reservedTextA, s.reservedTextB, s.lastFolder),
              std::tuple(std::string(79, 'A'), std::string(79, 'B'), std::string(259, 'C')));
    EXPECT_EQ(active_, want);
    EXPECT_EQ(s.userPalette, want);

    // Saving over-long texts must not spill into the next field, and each keeps a terminator.
    s.reservedTextA = std::string(200, 'x');
    s.lastFolder = std::string(400, 'y');
    s.lastMode = 3;
    ASSERT_TRUE(saveSettings(path_, s, 0));
    const auto w = readBytes();
    ASSERT_EQ(w.size(), 948u);
    EXPECT_EQ(w[83], 0);
    EXPECT_EQ(w[84], 'B');
    EXPECT_EQ(w[423], 0);
    EXPECT_EQ(wordAt(w, 424), 3);
    for (int e = 0; e < 18; ++e) {
        EXPECT_EQ(w[556 + 4 * e + 3], 0) << "entry " << e; // written back as 0
    }

    test::putLeAt(b, 440, 1047);
    writeBytes(b);
    load();
    EXPECT_EQ(active_, kBwPalette);
}

TEST_F(SettingsFile, AFailedSaveLeavesTheOldFileWhole) {
    AppSettings s;
    // A folder that cannot be made (a file has its name): the failure is told.
    std::ofstream((dir_ / "a-file").string()).put('x');
    EXPECT_FALSE(saveSettings((dir_ / "a-file" / "sub" / "korv.ini").string(), s, 0));
    EXPECT_FALSE(fs::exists(path_));
    fs::remove(dir_ / "a-file");

    // The new settings cannot be written whole (the disk fills up: the file size limit makes
    // write() fail short): the old file stays as it was.
    auto old = emptyValidImage();
    test::putLeAt(old, 436, 1086);
    writeBytes(old);
    EXPECT_FALSE(test::underFileSizeLimit(100, [&] { return saveSettings(path_, s, 0); }));
    EXPECT_EQ(readBytes(), old);

    // A longer file is replaced whole (a stray tail would get it deleted at the next start),
    // and nothing but the settings file is left behind.
    writeBytes(std::vector<std::uint8_t>(2000, 0x55));
    ASSERT_TRUE(saveSettings(path_, s, 0));
    EXPECT_EQ(fs::file_size(path_), 948u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
    EXPECT_TRUE(load().settingsLoaded);
}
