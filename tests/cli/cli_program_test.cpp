// korvanthile-cli run as a server would, without a display: hostile files, channels, absolute
// times, usage errors, what it replaces, and the settings it reads.

#include "cli/cli_support.h"

namespace korv::cli {
namespace {

TEST_F(CliRunTest, HostileFilesAreReportedAndSkippedAndJobsChangeNothing) {
    const std::string a = wave("a.wav", mono16(sine(500.0, 2.0)));
    const std::string b = wave("b.wav", mono16(pinkNoise(1.5)));
    // Not PCM (an MP3 tag), too short, garbage, and no file at all.
    const std::string mp3 =
        wave("mp3.wav", test::pcmWaveFile(16, 1, kRate, 16, test::noise(9000, 3), 0x55));
    const std::string tiny = wave("tiny.wav", test::pcmWaveFile(16, 1, kRate, 16, Bytes(100, 0)));
    const std::string junk = wave("junk.wav", test::noise(5000, 4));
    const std::string files =
        a + " " + mp3 + " " + tiny + " " + junk + " " + b + " " + dir.file("none.wav");
    for (const char* jobs : {"1", "2"}) {
        const ProgramRun r = run("image " + files + " --jobs " + jobs + " --out " + dir.file(jobs));
        EXPECT_EQ(r.status, EXIT_SOME_FAILED);
        for (const std::string& said :
             {mp3 + ": Advanced Wave Formats Cannot be Processed",
              junk + ": File may not be PCM Wave Format", tiny + ": Sample Size Too Small",
              dir.file("none.wav") + ": Cannot Open File"}) {
            EXPECT_THAT(r.errors, HasSubstr(said));
        }
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 4);
        EXPECT_EQ(r.errors.find('\r'), std::string::npos); // no progress line off a terminal
        EXPECT_FALSE(std::filesystem::exists(dir.file(std::string(jobs) + "/mp3.png")));
    }
    for (const char* name : {"/a.png", "/b.png"}) {
        const Bytes one = test::readFile(dir.file(std::string("1") + name));
        ASSERT_GT(one.size(), 100u);
        EXPECT_EQ(one, test::readFile(dir.file(std::string("2") + name))) << name;
        EXPECT_EQ(std::string(one.begin() + 1, one.begin() + 4), "PNG");
    }
    // The grid's labels through Qt's offscreen platform, still without a display; a second
    // b.wav elsewhere would take b.png too and is refused.
    std::filesystem::create_directory(dir.file("other"));
    const std::string twin = wave("other/b.wav", mono16(sine(300.0, 1.0)));
    const ProgramRun grid =
        run("image " + a + " " + b + " " + twin + " --grid --out " + dir.file("g"));
    EXPECT_EQ(grid.status, EXIT_SOME_FAILED);
    EXPECT_EQ(grid.errors, twin + ": same output name as " + b + "\n");
    EXPECT_NE(test::readFile(dir.file("g/a.png")), test::readFile(dir.file("1/a.png")));
    // Names on standard input and in a list file; every output written, status 0.
    test::writeFile(dir.file("list"), Bytes(b.begin(), b.end()));
    EXPECT_EQ(
        run("levels - --from " + dir.file("list") + " --csv --out " + dir.file("s"), a + "\\n")
            .status,
        EXIT_ALL_DONE);
    EXPECT_TRUE(std::filesystem::exists(dir.file("s/a.levels.csv")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("s/b.levels.csv")));
    EXPECT_EQ(run("--help").status, EXIT_ALL_DONE);
}

// A wave file of four channels (once "Advanced Wave Formats Cannot be Processed"), one tone
// each (channel c at 440 c Hz): --channel N names the channel analysed, counted from 1.
TEST_F(CliRunTest, ChannelNumbersNameAChannelOfAMultichannelFile) {
    const std::string four =
        wave("four.wav",
             test::pcmWaveFile(40, 4, kRate, 16, test::sineSamples(kRate, 4, 16, kRate), 0xFFFE));
    for (int channel = 1; channel <= 4; ++channel) {
        SCOPED_TRACE(channel);
        const std::string out = dir.file("c" + std::to_string(channel));
        const ProgramRun r =
            run("levels " + four + " --csv --channel " + std::to_string(channel) + " --out " + out);
        ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        const auto csv = csvRows(out + "/four.levels.csv");
        ASSERT_GT(csv.size(), 3u);
        EXPECT_NEAR(std::stod(csv[0][loudestOf(csv[csv.size() / 2]).first]), 440.0 * channel, 45.0);
    }
    const ProgramRun missing = run("levels " + four + " --channel 5 --out " + dir.file("c5"));
    EXPECT_EQ(missing.status, EXIT_SOME_FAILED);
    EXPECT_EQ(missing.errors, four + ": No Such Channel in File\n");
}

// Milliseconds since midnight of "yyyy-mm-ddThh:mm:ss.mmm", after checking the date.
long long clockMsec(const std::string& iso, const std::string& date) {
    EXPECT_EQ(iso.substr(0, 11), date + "T") << iso;
    EXPECT_EQ(iso.size(), 23u) << iso; // no zone: a broadcast file's clock is local
    return std::stoll(iso.substr(11, 2)) * 3600000 + std::stoll(iso.substr(14, 2)) * 60000 +
           std::stoll(iso.substr(17, 2)) * 1000 + std::stoll(iso.substr(20, 3));
}

// A broadcast wave file recorded from 05:30:12.250 (its time reference since midnight): each
// row of --absolute-time is that start plus the row's time from the start of the file.
TEST_F(CliRunTest, AbsoluteTimesCountFromTheRecordingStartTheFileCarries) {
    constexpr std::uint64_t kReference = 44100ULL * (5 * 3600 + 30 * 60 + 12) + 11025;
    const Bytes bext = test::bextChunk("2026-06-01", "08:00:00", kReference);
    const std::string file =
        wave("bwf.wav", test::monoWaveWith(bext, kRate, pcm16(sine(1000.0, 3.0))));
    ASSERT_EQ(run("levels --csv " + file + " --time-step 50").status, EXIT_ALL_DONE);
    const auto plain = csvRows(dir.file("bwf.levels.csv"));
    const ProgramRun absolute = run("levels --csv --absolute-time " + file + " --time-step 50");
    ASSERT_EQ(absolute.status, EXIT_ALL_DONE) << absolute.errors;
    const auto rows = csvRows(dir.file("bwf.levels.csv"));
    ASSERT_EQ(rows.size(), plain.size());
    ASSERT_GT(rows.size(), 50u);
    EXPECT_EQ(rows[0][0], "time_iso8601");
    constexpr long long kStartMsec = (5 * 3600 + 30 * 60 + 12) * 1000LL + 250;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        // Both round the same sample time to whole milliseconds.
        EXPECT_LE(
            std::llabs(clockMsec(rows[r][0], "2026-06-01") - kStartMsec - std::stoll(plain[r][0])),
            1)
            << r;
        EXPECT_EQ(std::vector(rows[r].begin() + 1, rows[r].end()),
                  std::vector(plain[r].begin() + 1, plain[r].end()));
    }
    // Without a recording time, or without CSV: said, and nothing written.
    const std::string bare = wave("bare.wav", mono16(sine(500.0, 1.0)));
    const ProgramRun none = run("levels --csv --absolute-time " + bare);
    EXPECT_EQ(none.status, EXIT_SOME_FAILED);
    EXPECT_THAT(none.errors, HasSubstr("No recording time in the file for --absolute-time"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("bare.levels.csv")));
    EXPECT_EQ(run("levels --absolute-time " + file).status, EXIT_USAGE);
}

// Options, settings, calibration files and lists of names the tool cannot use: usage errors,
// in its own words. The desktop program's settings only when asked for.
TEST_F(CliRunTest, UsageErrorsAndTheDesktopSettingsOnlyWhenAskedFor) {
    const std::string a = wave("a.wav", mono16(sine(500.0, 1.0)));
    for (const std::string& args :
         {std::string("image"), "image " + a + " --format gif", "image " + a + " --time-step nan",
          "image " + a + " --time-step inf", "image " + a + " --time-step 0",
          "image " + a + " --time-step -nan"}) {
        EXPECT_EQ(run(args).status, EXIT_USAGE) << args;
    }
    for (const char* option :
         {"--scale log", "--db-range 30", "--palette bw", "--low 2000 --high 500"}) {
        const ProgramRun r = run("bands " + a + " " + option);
        EXPECT_EQ(r.status, EXIT_USAGE) << option;
        EXPECT_THAT(r.errors, Not(HasSubstr("Improper Frequency Limits")));
    }
    // Settings: junk, missing, and a valid file through a pipe (read as it comes, with no
    // copy in a temporary folder) whose band is honoured.
    test::writeFile(dir.file("junk.ini"), test::noise(948, 5));
    EXPECT_EQ(run("levels " + a + " --settings " + dir.file("junk.ini")).errors,
              "korvanthile-cli: " + dir.file("junk.ini") +
                  ": not a Korvanthile settings file (948 bytes as the desktop program writes "
                  "it)\n");
    EXPECT_EQ(run("levels " + a + " --settings " + dir.file("none.ini")).status, EXIT_USAGE);
    AppSettings narrow;
    narrow.highBandHz = 3000;
    ASSERT_TRUE(saveSettings(dir.file("korv.ini"), narrow, 0));
    const ProgramRun piped =
        shell("TMPDIR=/nonexistent $CLI levels a.wav --csv --settings <(cat korv.ini)");
    EXPECT_EQ(piped.status, EXIT_ALL_DONE) << piped.errors;
    const auto header = csvRows(dir.file("a.levels.csv"))[0];
    EXPECT_NEAR(std::stod(header.back()), 2950.0, 50.0); // the last bin under 3000 Hz
    // Calibration: too large (the window's words), and a FIFO not waited for.
    test::writeFile(dir.file("big.txt"), Bytes(kCalibrationFileMaxBytes + 10, '1'));
    EXPECT_EQ(run("image " + a + " --calibration " + dir.file("big.txt")).errors,
              "korvanthile-cli: " + dir.file("big.txt") +
                  ": The file is too large to be a calibration file.\n");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(run("image " + a + " --calibration " + dir.file("fifo")).status, EXIT_USAGE);
    // Lists of names without line ends are bounded.
    for (const ProgramRun& r : {run("image --from /dev/zero"),
                                shell("head -c 100000 /dev/zero | tr \"\\0\" x | $CLI image -")}) {
        EXPECT_EQ(r.status, EXIT_USAGE);
        EXPECT_THAT(r.errors, HasSubstr("a line longer than 4096 bytes"));
    }

    // The desktop program's settings are read only when asked for; --verbose says what was
    // used.
    const std::string config = dir.file("config");
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config.c_str(), 1), 0);
    AppSettings desktop;
    desktop.log2FftSize = 13; // 8192 points
    desktop.lowBandHz = 200;
    desktop.highBandHz = 4000;
    const std::string ini = config + "/korvanthile/korv.ini";
    ASSERT_TRUE(saveSettings(ini, desktop, 0));

    ProgramRun r = run("image " + a + " --verbose --out " + dir.file("plain"));
    EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    EXPECT_THAT(r.errors, HasSubstr("settings: defaults\n"));
    EXPECT_THAT(r.errors, HasSubstr("fft: 1024 points"));

    r = run("image " + a + " --settings desktop -v --fft 2048 --out " + dir.file("desk"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
    EXPECT_THAT(r.errors, HasSubstr("settings: " + ini + "\n"));
    EXPECT_THAT(r.errors, HasSubstr("band: 200 to 4000 Hz, linear scale\n"));
    EXPECT_THAT(r.errors, HasSubstr("fft: 2048 points")) << "the option wins";
}

TEST_F(CliRunTest, NothingIsReplacedOrLostAndEveryFailureNamesItsOutput) {
    const Bytes recording = mono16(sine(700.0, 1.0));
    // An input named like its own output.
    for (const auto& [command, name] : {std::pair{"image", "same.png"}, {"levels", "same.txt"}}) {
        const ProgramRun r = shell("$CLI " + std::string(command) + " " + wave(name, recording));
        EXPECT_EQ(r.status, EXIT_SOME_FAILED) << name;
        EXPECT_THAT(r.errors, HasSubstr("is the input file"));
        EXPECT_EQ(test::readFile(dir.file(name)), recording);
    }
    // One file under two spellings: analysed once, nothing lost, no failure.
    wave("x.wav", recording);
    const ProgramRun twice = shell("$CLI levels x.wav ./x.wav ../$(basename $PWD)/x.wav");
    EXPECT_EQ(twice.status, EXIT_ALL_DONE) << twice.errors;
    EXPECT_EQ(std::count(twice.errors.begin(), twice.errors.end(), '\n'), 2) << twice.errors;
    EXPECT_GT(test::readFile(dir.file("x.txt")).size(), 1000u);
    // An output folder that cannot be made: named once with the system's reason.
    EXPECT_EQ(shell("$CLI image x.wav --out x.wav/sub").errors,
              "korvanthile-cli: x.wav/sub: cannot make the folder (Not a directory)\n");
    // A full disk and a read-only one, where a private mount can be had; nothing left behind.
    const ProgramRun full =
        shell("mkdir -p full ro && unshare -rm sh -c \"mount -t tmpfs -o size=16k tmpfs full && "
              "mount -t tmpfs -o ro tmpfs ro && $CLI levels x.wav --out full; "
              "$CLI image x.wav --out ro; ls -A full >&2\" || echo no private mounts >&2");
    if (full.errors.find("no private mounts") == std::string::npos) {
        EXPECT_EQ(full.errors, "x.wav: full/x.txt: Error Writing File (No space left on device)\n"
                               "x.wav: ro/x.png: Cannot Open File (Read-only file system)\n");
    }
    // Too short for one column of a picture: one message for every format, nothing written.
    wave("short.wav", mono16(sine(700.0, 0.03)));
    for (const char* format : {"png", "jpg", "bmp"}) {
        const ProgramRun r = shell(std::string("$CLI image short.wav --format ") + format);
        EXPECT_EQ(r.status, EXIT_SOME_FAILED);
        EXPECT_EQ(r.errors, "short.wav: Sample Size Too Small (an image needs 4 columns, the file "
                            "gives 1)\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file(std::string("short.") + format)));
    }
}

} // namespace
} // namespace korv::cli
