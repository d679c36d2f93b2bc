// korvanthile-cli run as a server would, without a display: hostile files, channels, absolute
// times, usage errors, what it replaces, and the settings it reads.

#include "cli/cli_support.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

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

// The tool's stderr on a terminal of its own (a pseudo-terminal), its stdout dropped: all it
// wrote there.
std::string onTerminal(const std::string& arguments) {
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        const int none = ::open("/dev/null", O_WRONLY);
        ::dup2(none, STDOUT_FILENO);
        const std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(KORV_CLI_PATH) + " " + arguments;
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string said;
    if (child < 0) {
        return said;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    return said;
}

// On a terminal the tool says how far the file is; --quiet, or no terminal, says nothing.
TEST_F(CliRunTest, ProgressWithinAFileOnATerminalOnly) {
    const std::string file = wave("long.wav", mono16(pinkNoise(20.0)));
    const std::string shown = onTerminal("image " + file + " --out " + dir.file("t"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("t/long.png")));
    EXPECT_THAT(shown, HasSubstr("\r\033[K0/1 files, long.wav "));
    EXPECT_THAT(shown, ::testing::ContainsRegex("long\\.wav [0-9]+ %"));
    EXPECT_THAT(shown, HasSubstr("\r\033[K1/1 files"));
    // The percents only grow.
    int last = -1;
    for (std::size_t at = shown.find("long.wav "); at != std::string::npos;
         at = shown.find("long.wav ", at + 1)) {
        const int percent = std::atoi(shown.c_str() + at + 9);
        EXPECT_GE(percent, last);
        last = percent;
    }
    EXPECT_GE(last, 0);
    const std::string quiet = onTerminal("image " + file + " --quiet --out " + dir.file("q"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("q/long.png")));
    EXPECT_EQ(quiet.find("files"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find('\r'), std::string::npos);
    const ProgramRun piped = run("bands " + file + " --out " + dir.file("p"));
    EXPECT_EQ(piped.status, EXIT_ALL_DONE);
    EXPECT_EQ(piped.errors, "");
}

// The 8-bit bitmap's palette index at (x, y), y from the top.
struct Bitmap {
    Bytes bytes;
    int width = 0;
    int height = 0;
    explicit Bitmap(Bytes b) : bytes(std::move(b)) {
        width = static_cast<int>(test::le32At(bytes, 18));
        height = static_cast<int>(test::le32At(bytes, 22));
    }
    [[nodiscard]] int at(int x, int y) const {
        return bytes[1078 + static_cast<std::size_t>(height - 1 - y) * width + x];
    }
};

// image --legend: the axes with their units and a colour legend whose rows have the colours
// the picture gives their levels, on the window's level scale; the picture itself unchanged.
TEST_F(CliRunTest, ImageLegendShowsTheLevelsOfThePalettesColours) {
    const std::string file = wave("tone.wav", mono16(sine(1000.0, 6.0)));
    ASSERT_EQ(run("image " + file + " --format bmp --out " + dir.file("plain")).status,
              EXIT_ALL_DONE);
    ASSERT_EQ(run("image " + file + " --format bmp --legend --out " + dir.file("legend")).status,
              EXIT_ALL_DONE);
    const Bitmap plain(test::readFile(dir.file("plain/tone.bmp")));
    const Bitmap legend(test::readFile(dir.file("legend/tone.bmp")));
    // The legend on a margin beside the picture, whose columns it covers none of.
    ASSERT_EQ(plain.height, legend.height);
    ASSERT_GT(legend.width, plain.width);
    EXPECT_EQ(legend.width % 4, 0);
    // The bar: the columns of the margin with a long run of gradient colours.
    int barX = -1;
    for (int x = plain.width; x < legend.width && barX < 0; ++x) {
        int gradient = 0;
        for (int y = 0; y < legend.height; ++y) {
            gradient += legend.at(x, y) >= kFirstGradientIndex ? 1 : 0;
        }
        barX = gradient > legend.height / 2 ? x : -1;
    }
    ASSERT_GT(barX, 0);
    // Framed in the Text colour; inside, row r stands for 0 dB - (r + 0.5) x 60 dB / rows (the
    // default 60 dB range), coloured as the image colours that level:
    // (4 (L + 90) - 120) x 240 / 240, truncated, within 4 .. 235.
    int middle = 0;
    while (middle < legend.height && legend.at(barX, middle) < kFirstGradientIndex) {
        ++middle;
    }
    int top = middle;
    while (top > 0 && legend.at(barX, top) != kTextIndex) {
        --top;
    }
    int bottom = middle;
    while (bottom < legend.height - 1 && legend.at(barX, bottom) != kTextIndex) {
        ++bottom;
    }
    const int rows = bottom - top - 1;
    ASSERT_GT(rows, 100);
    int exact = 0;
    for (int r = 0; r < rows; ++r) {
        const double levelDb = -(r + 0.5) * 60.0 / rows;
        const int expected =
            std::clamp(static_cast<int>(std::trunc(4.0 * (levelDb + 90.0) - 120.0)), 4, 235);
        const int shown = legend.at(barX, top + 1 + r);
        EXPECT_NEAR(shown, expected, 1) << "row " << r;
        exact += shown == expected ? 1 : 0;
    }
    EXPECT_GT(exact, rows * 9 / 10);
    // Labels (Text pixels) left of the bar, in the margin.
    int labelled = 0;
    for (int y = top; y <= bottom; ++y) {
        for (int x = plain.width; x < barX - 2; ++x) {
            labelled += legend.at(x, y) == kTextIndex ? 1 : 0;
        }
    }
    EXPECT_GT(labelled, 30);
    // Right of the frequency axis, to its last column above the time axis, the picture is the
    // plain one.
    for (int y = 30; y < legend.height - 40; ++y) {
        for (int x = 150; x < plain.width; ++x) {
            ASSERT_EQ(legend.at(x, y), plain.at(x, y)) << x << "," << y;
        }
    }
}

} // namespace
} // namespace korv::cli

namespace korv::cli {
namespace {

// Past an hour the time labels read h:mm:ss: a recording of an hour and a second labels its
// axis otherwise than one a second short of the hour, and nothing else in the picture differs.
TEST_F(CliRunTest, ImageLegendTimesARecordingLongerThanAnHourAsHoursMinutesSeconds) {
    constexpr std::uint32_t rate = 8000;
    // Sparse files: a header and silence the file system keeps as a hole.
    const auto silent = [&](const std::string& name, std::uint32_t seconds) {
        const std::uint32_t bytes = seconds * rate * 2;
        Bytes header = test::pcmWaveFile(16, 1, rate, 16, Bytes(2, 0));
        header.resize(header.size() - 2);
        test::putLeAt(header, 4, static_cast<std::uint64_t>(bytes) + 36, 4);
        test::putLeAt(header, 40, bytes, 4);
        const std::string path = wave(name, header);
        std::filesystem::resize_file(path, header.size() + bytes);
        return path;
    };
    const std::string shorter = silent("short.wav", 3599);
    const std::string longer = silent("long.wav", 3601);
    const std::string options = " --format bmp --legend --time-step 500 --fft 512 --min-width 0";
    ASSERT_EQ(run("image " + shorter + options + " --out " + dir.file("o")).status, EXIT_ALL_DONE);
    ASSERT_EQ(run("image " + longer + options + " --out " + dir.file("o")).status, EXIT_ALL_DONE);
    const Bitmap a(test::readFile(dir.file("o/short.bmp")));
    const Bitmap b(test::readFile(dir.file("o/long.bmp")));
    ASSERT_EQ(a.height, b.height);
    const int width = std::min(a.width, b.width) - 200; // clear of the legend
    int differing = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (a.at(x, y) != b.at(x, y)) {
                ++differing;
                // Only in the time labels' line at the bottom.
                ASSERT_GE(y, a.height - 40) << x << "," << y;
            }
        }
    }
    EXPECT_GT(differing, 100);
}

} // namespace
} // namespace korv::cli
