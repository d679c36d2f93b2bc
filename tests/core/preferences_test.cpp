// korvanthile.conf, the settings beside korv.ini: real files in a temporary folder, the
// expected text written out here.

#include "settings/preferences.h"

#include "audio/time_expansion.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>

using namespace korv;
using meter::FrequencyWeighting;
using meter::TimeWeighting;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(Preferences, ReadsKnownKeysReportsBadValuesAndKeepsUnknownKeys) {
    test::TempFolder temp;
    const std::string path = temp.file("korvanthile.conf");
    writeText(path, "# a comment\n"
                    "meter.weighting = C\n"
                    "  meter.time_weighting=S  \r\n"
                    "meter.bands = 5\n"
                    "meter.interval_s = 0.125\n"
                    "play.slowdown = 10\n"
                    "recent.1 = /data/bats/night 1.wav\n"
                    "recent.2 = /data/b.flac\n"
                    "calibration.1 = 121.25 2026-12-09T10:15:00 USB Audio: Analog (hw:1,0)\n"
                    "calibration.2 = loud today\n"
                    "newer.program.key = kept = as is\n"
                    "no equals sign here\n");
    const PreferencesRead read = readPreferences(path);
    const Preferences& p = read.preferences;
    EXPECT_EQ(p.meterWeighting, FrequencyWeighting::C);
    EXPECT_EQ(p.meterTimeWeighting, TimeWeighting::S);
    EXPECT_EQ(p.meterBandsPerOctave, 3) << "a bad value takes its default";
    EXPECT_DOUBLE_EQ(p.meterIntervalSeconds, 0.125);
    EXPECT_EQ(p.playbackSlowdown, 10);
    EXPECT_EQ(p.recentFiles, (std::vector<std::string>{"/data/bats/night 1.wav", "/data/b.flac"}));
    ASSERT_EQ(p.calibrations.size(), 1U);
    EXPECT_EQ(p.calibrations[0],
              (DeviceCalibration{"USB Audio: Analog (hw:1,0)", 121.25, "2026-12-09T10:15:00"}));
    ASSERT_EQ(read.problems.size(), 3U);
    EXPECT_EQ(read.problems[0],
              path + ", line 4: \"meter.bands = 5\" is not a band width (0, 1, 3, 6, 12 or 24 "
                     "bands an octave); 3 is used");
    EXPECT_NE(read.problems[1].find("line 10"), std::string::npos);
    EXPECT_NE(read.problems[2].find("line 12: \"no equals sign here\""), std::string::npos);

    // Written back: the values as read, the unknown key as it was, the garbage gone.
    ASSERT_EQ(writePreferences(path, p), "");
    const std::string text = readText(path);
    EXPECT_NE(text.find("meter.weighting = C\n"), std::string::npos);
    EXPECT_NE(text.find("newer.program.key = kept = as is\n"), std::string::npos);
    EXPECT_EQ(text.find("no equals"), std::string::npos);
    const PreferencesRead again = readPreferences(path);
    EXPECT_TRUE(again.problems.empty());
    EXPECT_EQ(again.preferences, p);
}

TEST(Preferences, EveryValueOfEveryChoiceSurvivesTheFile) {
    test::TempFolder temp;
    const std::string path = temp.file("sub/folder/korvanthile.conf"); // folders made
    for (auto w : {FrequencyWeighting::A, FrequencyWeighting::C, FrequencyWeighting::Z}) {
        for (auto t : {TimeWeighting::F, TimeWeighting::S, TimeWeighting::I}) {
            for (int bands : {0, 1, 3, 6, 12, 24}) {
                Preferences p;
                p.meterWeighting = w;
                p.meterTimeWeighting = t;
                p.meterBandsPerOctave = bands;
                p.meterIntervalSeconds = 0.1 * bands + 0.01;
                p.playbackSlowdown = TIME_EXPANSION_FACTORS[static_cast<std::size_t>(bands) %
                                                            TIME_EXPANSION_FACTORS.size()];
                ASSERT_EQ(writePreferences(path, p), "");
                const PreferencesRead read = readPreferences(path);
                EXPECT_TRUE(read.problems.empty());
                EXPECT_EQ(read.preferences, p);
            }
        }
    }
}

TEST(Preferences, MissingOddAndUnwritableFiles) {
    test::TempFolder temp;
    const PreferencesRead missing = readPreferences(temp.file("none.conf"));
    EXPECT_TRUE(missing.problems.empty());
    EXPECT_EQ(missing.preferences, Preferences{});

    const std::string fifo = temp.file("fifo.conf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const PreferencesRead fromFifo = readPreferences(fifo); // must not wait for a writer
    EXPECT_EQ(fromFifo.problems.size(), 1U);
    EXPECT_EQ(fromFifo.preferences, Preferences{});

    const std::string large = temp.file("large.conf");
    writeText(large, std::string(static_cast<std::size_t>(kPreferencesFileLimitBytes) + 1, '#'));
    EXPECT_EQ(readPreferences(large).problems.size(), 1U);

    // A folder that takes no new file (even root's): the old file stays whole and the
    // failure is named.
    const std::string path = temp.file("korvanthile.conf");
    writeText(path, "meter.weighting = Z\n");
    const std::string blocked = path + "/korvanthile.conf";
    EXPECT_NE(writePreferences(blocked, Preferences{}).find(blocked), std::string::npos);
    EXPECT_EQ(readText(path), "meter.weighting = Z\n");
}

TEST(Preferences, RecentFilesAndCalibrationsAreBoundedLists) {
    Preferences p;
    for (int i = 0; i < 12; ++i) {
        rememberRecentFile(p, "/f" + std::to_string(i));
    }
    rememberRecentFile(p, "/f5"); // again: moves to the front, once
    rememberRecentFile(p, "/bad\nname");
    ASSERT_EQ(p.recentFiles.size(), kRecentFilesKept);
    EXPECT_EQ(p.recentFiles.front(), "/f5");
    EXPECT_EQ(p.recentFiles[1], "/f11");
    EXPECT_EQ(std::count(p.recentFiles.begin(), p.recentFiles.end(), "/f5"), 1);
    EXPECT_EQ(p.recentFiles.back(), "/f2");

    rememberCalibration(p, {"hw:0", 118.0, "2026-01-01T00:00:00"});
    rememberCalibration(p, {"hw:1", 120.0, "2026-01-02T00:00:00"});
    rememberCalibration(p, {"hw:0", 119.5, "2026-02-01T00:00:00"}); // replaces
    rememberCalibration(p, {"hw:2\n", 100.0, "2026-02-01T00:00:00"});
    ASSERT_EQ(p.calibrations.size(), 2U);
    ASSERT_NE(calibrationOf(p, "hw:0"), nullptr);
    EXPECT_DOUBLE_EQ(calibrationOf(p, "hw:0")->fullScaleDb, 119.5);
    EXPECT_EQ(calibrationOf(p, "hw:2\n"), nullptr);
    for (int i = 0; i < 40; ++i) {
        rememberCalibration(p, {"dev " + std::to_string(i), 100.0 + i, "2026-03-01T00:00:00"});
    }
    EXPECT_EQ(p.calibrations.size(), kCalibratedDevicesKept);
    EXPECT_EQ(calibrationOf(p, "hw:0"), nullptr) << "the oldest went";
    const PreferencesRead read = parsePreferences(formatPreferences(p), "x");
    EXPECT_EQ(read.preferences, p);
}

TEST(Preferences, LivesBesideTheSettingsFile) {
    EXPECT_EQ(preferencesPathBeside("/home/u/.config/korvanthile/korv.ini"),
              "/home/u/.config/korvanthile/korvanthile.conf");
    EXPECT_EQ(preferencesPathBeside("korv.ini"), "korvanthile.conf");
}

} // namespace
