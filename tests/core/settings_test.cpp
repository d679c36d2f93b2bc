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

std::int32_t wordAt(const test::Bytes& b, std::size_t off) {
    return static_cast<std::int32_t>(test::le32At(b, off));
}

float floatAt(const test::Bytes& b, std::size_t off) {
    return std::bit_cast<float>(test::le32At(b, off));
}

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

    // The value loaded from the word at a file offset, as the record stores it again.
    double fieldAt(const AppSettings& s, std::size_t off) const {
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
        const std::string probe = temp_.file("probe.ini");
        EXPECT_TRUE(saveSettings(probe, s, s.storedSampleRateHz));
        return wordAt(test::readFile(probe), off);
    }

    test::TempFolder temp_;
    fs::path dir_{temp_.folder()};
    std::string path_ = temp_.file("korv.ini");
    LevelPalette active_{};
};

std::vector<std::uint8_t> emptyValidImage() {
    std::vector<std::uint8_t> b(948, 0);
    test::putLeAt(b, 0, 6000);
    return b;
}

// The stored words from offset 424 in file order (but the floats at 480 and 524 and the
// sample rate at 504), with the value each default has and another value it may hold.
struct StoredWord {
    std::size_t offset;
    std::int32_t defaultValue;
    std::int32_t otherValid;
};

const StoredWord kIntWords[] = {
    {424, 0, 4},         {428, 1165, 1167},  {432, 1008, 1007},   {436, 1083, 1087},
    {440, 1046, 1048},   {444, 1141, 1142},  {448, 1061, 1063},   {452, 1146, 1147},
    {456, 1076, 1078},   {460, 1089, 1091},  {464, 1013, 1014},   {468, 1159, 1161},
    {472, 1109, 1124},   {476, 1121, 1122},  {484, -9, 15},       {488, 75, 0},
    {492, 0, 250},       {496, 6000, 22050}, {500, 0, 1},         {508, 1, 128},
    {512, 20, 1},        {516, 0, 440},      {520, 0, -5},        {528, 100, 250},
    {532, 300, -123456}, {536, 10, 100},     {540, 40055, 40056}, {544, 1, 3},
    {548, 0, INT32_MIN}, {552, 1144, 1145},
};

// Every value each choice word may hold: the ids of its dialog buttons (the Variables menu's
// command ids), or its small codes; for the spare word older files' 300, another untagged
// word, and tagged ones with Max Over Step and file channels.
const std::pair<std::size_t, std::vector<std::int32_t>> kEveryChoice[] = {
    {424, {0, 1, 2, 3, 4}},
    {428, {1163, 1164, 1165, 1166, 1167, 1170, 1171, 1172, 1173, 1174, 1175, 1176, 1177, 1178}},
    {432, {1007, 1008}},
    {436, {1082, 1083, 1084, 1085, 1086, 1087}},
    {440, {1046, 1047, 1048}},
    {444, {1140, 1141, 1142}},
    {448, {1061, 1062, 1063}},
    {452, {1146, 1147}},
    {456, {1076, 1077, 1078}},
    {460, {1089, 1090, 1091}},
    {464, {1013, 1014}},
    {468, {1159, 1160, 1161}},
    {472, {1109, 1110, 1124}},
    {476, {1121, 1122}},
    {500, {0, 1}},
    {532, {300, 12345, 0x4B430102, 0x4B438102, 0x4B430340, 0x4B43C001}},
    {540, {40055, 40056}},
    {544, {1, 2, 3}},
    {552, {1144, 1145}},
};

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
        s.log2FftSize = 12;
        s.highBandHz = 11000;
        s.levelScaleCode = 4;
        s.marker1Hz = 440;
        s.pointerType = 3;
        s.palette = PaletteName::Bw;
        s.maxOverStep = true;
        s.averageCountScroll = 7;
        s.timeScaleMsec = 3.0f;
        s.lastFolder = "/keep/";
        EXPECT_EQ(reloadSettings(path_, s, active), ReloadOutcome::DefaultsApplied);
        EXPECT_EQ(fs::is_fifo(path_), fifo) << "left in place";
        EXPECT_EQ(std::tuple(s.fftSize(), s.highBandHz, s.levelScaleCode, s.marker1Hz,
                             s.pointerType, s.palette, s.maxOverStep, s.averageCountScroll),
                  std::tuple(512, 6000, -9, 0, 1, PaletteName::Cb, false, 7));
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

// A file with a value other than the default in every field reads as those values and is
// written back byte for byte.
TEST_F(SettingsFile, EveryFieldRoundTripsThroughTheFile) {
    auto b = emptyValidImage();
    const auto putText = [&b](std::size_t at, const std::string& text) {
        std::memcpy(&b[at], text.c_str(), text.size() + 1);
    };
    putText(4, "first reserved");
    putText(84, "second");
    putText(164, "/home/someone/recordings/");
    for (const auto& w : kIntWords) {
        test::putLeAt(b, w.offset, static_cast<std::uint32_t>(w.otherValid));
    }
    test::putLeAt(b, 480, std::bit_cast<std::uint32_t>(2.5f));
    test::putLeAt(b, 504, 48000);
    test::putLeAt(b, 524, std::bit_cast<std::uint32_t>(21.53f));
    for (std::size_t e = 0; e < 18; ++e) {
        const std::uint8_t entry[] = {static_cast<std::uint8_t>(e),
                                      static_cast<std::uint8_t>(100 + e),
                                      static_cast<std::uint8_t>(250 - e), 0};
        std::memcpy(&b[556 + 4 * e], entry, 4);
    }
    for (std::size_t p = 0; p < 40; ++p) {
        const auto frequency = static_cast<float>(5 + static_cast<double>(p) * 11.5);
        const auto correction = static_cast<float>(p % 7) - 3.5f;
        test::putLeAt(b, 628 + 8 * p, std::bit_cast<std::uint32_t>(frequency));
        test::putLeAt(b, 632 + 8 * p, std::bit_cast<std::uint32_t>(correction));
    }
    writeBytes(b);

    const AppSettings s = load();
    EXPECT_EQ(std::tie(s.reservedTextA, s.reservedTextB, s.lastFolder),
              std::tuple(std::string("first reserved"), std::string("second"),
                         std::string("/home/someone/recordings/")));
    // What each id means.
    EXPECT_EQ(std::tuple(s.lastMode, s.inputSampleRateHz, s.resolutionBits, s.fftSize(), s.palette,
                         s.dbRange, s.displayType, s.analysisAtStop),
              std::tuple(4, 48000, 8, 16384, PaletteName::User, DbRange::Db90,
                         DisplayType::LinePlot, true));
    EXPECT_EQ(std::tuple(s.frequencyScale, s.channel, s.stereo, s.plotType, s.recording,
                         s.scrollMemory, s.variables, s.pitchDetector),
              std::tuple(FrequencyScale::ThirdOctave, StereoChannel::Right, true, PlotType::LrDelta,
                         Recording::Choice::Trigger, true, Variables::Freeze, true));
    EXPECT_EQ(std::tuple(s.timeScaleMsecSaved, s.freqResolutionHz, s.storedSampleRateHz),
              std::tuple(2.5f, 21.53f, 48000));
    EXPECT_EQ(s.userPalette[17], (Rgb{17, 117, 233}));
    EXPECT_EQ(s.calibrationTable[39], (CalibrationPoint{453.5f, 0.5f}));
    // Max Over Step lives in the spare word: what older files hold there reads as off.
    EXPECT_FALSE(s.maxOverStep);

    ASSERT_TRUE(saveSettings(path_, s, 48000));
    EXPECT_EQ(readBytes(), b);
}

// Every value of every choice reads as its own value and is written back as it was, by a start
// and by a reload alike.
TEST_F(SettingsFile, EveryValidValueOfEveryChoiceIsWrittenBackByteForByte) {
    auto b = emptyValidImage();
    for (const auto& w : kIntWords) {
        test::putLeAt(b, w.offset, static_cast<std::uint32_t>(w.defaultValue));
    }
    test::putLeAt(b, 480, std::bit_cast<std::uint32_t>(4.0f));
    test::putLeAt(b, 492, 100); // a band every scale takes
    for (std::size_t p = 0; p < 40; ++p) {
        test::putLeAt(b, 628 + 8 * p, std::bit_cast<std::uint32_t>(10.0f + static_cast<float>(p)));
    }
    for (const auto& [offset, values] : kEveryChoice) {
        std::vector<AppSettings> read;
        for (const std::int32_t value : values) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << " value " << value);
            auto image = b;
            test::putLeAt(image, offset, static_cast<std::uint32_t>(value));
            for (const bool reload : {false, true}) {
                writeBytes(image);
                AppSettings s;
                if (reload) {
                    ASSERT_EQ(reloadSettings(path_, s, active_), ReloadOutcome::FileApplied);
                } else {
                    loadSettings(path_, s, active_);
                    read.push_back(s);
                }
                ASSERT_TRUE(saveSettings(path_, s, 0));
                EXPECT_EQ(readBytes(), image) << (reload ? "reload" : "start");
            }
        }
        // The record tells the values apart.
        for (std::size_t i = 0; i < read.size(); ++i) {
            for (std::size_t j = i + 1; j < read.size(); ++j) {
                EXPECT_FALSE(read[i] == read[j]) << "offset " << offset << ": " << i << ", " << j;
            }
        }
    }
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
        EXPECT_EQ(s.fftSize(), 1024);
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
            EXPECT_EQ(active_, s.palette == PaletteName::Cb ? kCbPalette : kBwPalette) << c;

            ASSERT_TRUE(saveSettings(path_, s, s.storedSampleRateHz));
            EXPECT_TRUE(read() == s) << "case " << c << (reload ? " reload" : " load");
        }
    }
}

// A reload keeps the folder of this session. A rate id no button has reads as 22050 Hz.
TEST_F(SettingsFile, SampleRateIdsAndAReloadKeepsTheLastFolder) {
    auto b = emptyValidImage();
    test::putLeAt(b, 428, 1168);
    test::putLeAt(b, 436, 1086);
    test::putLeAt(b, 440, 1046);
    const char folder[] = "/stored/";
    std::memcpy(&b[164], folder, sizeof folder);
    writeBytes(b);
    AppSettings s = load();
    EXPECT_EQ(s.inputSampleRateHz, 22050);
    s = {};
    s.lastFolder = "/current/";
    EXPECT_EQ(reloadSettings(path_, s, active_), ReloadOutcome::FileApplied);
    EXPECT_EQ(s.inputSampleRateHz, 22050);
    EXPECT_EQ(s.fftSize(), 8192);
    EXPECT_EQ(s.lastFolder, "/current/");
    EXPECT_TRUE(s.settingsLoaded);
    // The five of old and the higher and lower rates an input may offer (8 .. 384 kHz); no
    // other id.
    const std::pair<std::int32_t, std::int32_t> rates[] = {
        {1163, 5513}, {1164, 11025},  {1165, 22050},  {1166, 44100}, {1167, 48000},
        {1170, 8000}, {1176, 192000}, {1178, 384000}, {1169, 22050}, {1179, 22050}};
    for (const auto& [id, hz] : rates) {
        test::putLeAt(b, 428, static_cast<std::uint32_t>(id));
        writeBytes(b);
        EXPECT_EQ(load().inputSampleRateHz, hz) << id;
    }
}

// The channels of a wide file and Max Over Step share the spare word, each keeping the other.
TEST_F(SettingsFile, TheChannelsOfAWideFileAndMaxOverStepLiveInTheSpareWord) {
    const auto channels = [](const AppSettings& s) {
        return std::pair{s.fileChannels.first, s.fileChannels.second};
    };
    // Every older file holds 300 there: channels 1 and 2, as always, and Max Over Step off.
    AppSettings s;
    EXPECT_EQ(channels(s), std::pair(1, 2));
    EXPECT_FALSE(s.maxOverStep);
    s.fileChannels = {3, 64};
    s.maxOverStep = true;
    ASSERT_TRUE(saveSettings(path_, s, 0));
    EXPECT_EQ(wordAt(readBytes(), 532), 0x4B438340);
    AppSettings again = load();
    EXPECT_EQ(channels(again), std::pair(3, 64));
    EXPECT_TRUE(again.maxOverStep);
    again.maxOverStep = false;
    ASSERT_TRUE(saveSettings(path_, again, 0));
    EXPECT_EQ(wordAt(readBytes(), 532), 0x4B430340);
    again = load();
    EXPECT_EQ(channels(again), std::pair(3, 64));
    EXPECT_FALSE(again.maxOverStep);
    // A channel 0 or beyond 64 in the word is no choice; Max Over Step beside it still is.
    for (const std::uint32_t word : {0x4B430002U, 0x4B438141U}) {
        auto b = emptyValidImage();
        test::putLeAt(b, 532, word);
        writeBytes(b);
        again = load();
        EXPECT_EQ(channels(again), std::pair(1, 2));
        EXPECT_EQ(again.maxOverStep, (word & 0x8000U) != 0);
    }
    // An untagged word with Max Over Step turned on becomes a tagged one.
    s = {};
    s.maxOverStep = true;
    ASSERT_TRUE(saveSettings(path_, s, 0));
    EXPECT_EQ(wordAt(readBytes(), 532), 0x4B438102);
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
