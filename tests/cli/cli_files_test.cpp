// korvanthile-cli on the files a new user gives it: lists that are no lists, sound files whose
// headers do not say how long they are, and the names of what it writes.

#include "cli/cli_support.h"

namespace korv::cli {
namespace {

TEST_F(CliRunTest, AListThatCannotBeReadIsNamedWithTheReason) {
    std::filesystem::create_directory(dir.file("folder"));
    const ProgramRun folder = run("levels --from " + dir.file("folder"));
    EXPECT_EQ(folder.status, EXIT_USAGE);
    EXPECT_EQ(folder.errors,
              "korvanthile-cli: " + dir.file("folder") + ": Cannot Open File (Is a directory)\n");
    const ProgramRun missing = run("levels --from " + dir.file("none"));
    EXPECT_EQ(missing.status, EXIT_USAGE);
    EXPECT_THAT(missing.errors, HasSubstr("(No such file or directory)"));
    // A folder on standard input is as unreadable.
    const ProgramRun input = shell("$CLI image - < folder");
    EXPECT_EQ(input.status, EXIT_USAGE);
    EXPECT_THAT(input.errors, HasSubstr("standard input: Cannot Open File (Is a directory)"));
}

// An MP3 of a sine written by libsndfile (libmp3lame), in the test's folder.
std::string mp3(test::TempFolder& dir, const std::string& name, double seconds, double hz) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(test::writeSound(path, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kRate, 1,
                                 static_cast<sf_count_t>(seconds * kRate), 0.5, nullptr, hz));
    return path;
}

TEST_F(CliRunTest, EveryFailureNamesTheFileAndTheReason) {
    const std::string a = wave("a.wav", mono16(sine(500.0, 1.0)));
    std::filesystem::create_directory(dir.file("folder"));
    const ProgramRun missing =
        run("image " + a + " " + dir.file("none.wav") + " " + dir.file("folder"));
    EXPECT_EQ(missing.status, EXIT_SOME_FAILED);
    EXPECT_THAT(missing.errors,
                HasSubstr(dir.file("none.wav") + ": Cannot Open File (No such file or directory)"));
    EXPECT_THAT(missing.errors,
                HasSubstr(dir.file("folder") + ": Cannot Open File (Is a directory)"));
    // An output folder that cannot be made: the name is a link to nowhere.
    std::filesystem::create_symlink(dir.file("nowhere/at/all"), dir.file("link"));
    const ProgramRun out = run("image " + a + " --out " + dir.file("link"));
    EXPECT_EQ(out.status, EXIT_SOME_FAILED);
    EXPECT_EQ(out.errors,
              "korvanthile-cli: " + dir.file("link") + ": cannot make the folder (File exists)\n");
    // No names where names were expected, and a command mistyped.
    const ProgramRun none = shell("$CLI image - < /dev/null");
    EXPECT_EQ(none.status, EXIT_USAGE);
    EXPECT_EQ(none.errors, "korvanthile-cli: standard input: no file names in the list\n");
    const ProgramRun typo = run("imagez " + a);
    EXPECT_EQ(typo.status, EXIT_USAGE);
    EXPECT_EQ(typo.errors,
              "korvanthile-cli: imagez: not a command (image, levels, bands, meter)\n");
    // Two MP3s joined: the decoder would stop after the first, and says so; its own warning,
    // naming nothing, is not passed on.
    const std::string one = mp3(dir, "one.mp3", 2.0, 1000.0);
    const std::string two = mp3(dir, "two.mp3", 2.0, 2000.0);
    ASSERT_EQ(shell("cat one.mp3 two.mp3 > joined.mp3").status, 0);
    const ProgramRun joined =
        run("image " + dir.file("joined.mp3") + " " + one + " --out " + dir.file("mp3"));
    EXPECT_EQ(joined.status, EXIT_SOME_FAILED);
    EXPECT_THAT(joined.errors, HasSubstr("joined.mp3: MP3 decoder stops at 2.0 s of the 4."));
    EXPECT_FALSE(std::filesystem::exists(dir.file("mp3/joined.png")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("mp3/one.png")));
    std::istringstream lines(joined.errors);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind(dir.file("joined.mp3") + ": ", 0), 0u) << line;
    }
}

TEST_F(CliRunTest, AnOutputNameAsLongAsTheFolderTakesIsWritten) {
    // 250 bytes and ".png": 254, one short of the longest name; and the same in two-byte
    // characters, which a shortened temporary name must not cut in half.
    const std::string plain(250, 'n');
    std::string wide;
    while (wide.size() + 2 <= 250) {
        wide += "\xC3\xA9";
    }
    for (const std::string& stem : {plain, wide}) {
        const std::string file = wave(stem + ".wav", mono16(sine(1000.0, 1.0)));
        const ProgramRun image = run("image " + file);
        EXPECT_EQ(image.status, 0) << image.errors;
        EXPECT_GT(std::filesystem::file_size(dir.file(stem + ".png")), 0u);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.folder())) {
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

// A mono 16-bit FLAC of these values, and the same with its total of samples (the 36 bits
// ending at byte 25 of its stream header) set to `total`.
std::string flac16(const std::string& path, const std::vector<double>& values) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    std::vector<double> scaled(values);
    for (double& v : scaled) {
        v /= 32768.0;
    }
    EXPECT_EQ(sf_writef_double(f, scaled.data(), static_cast<sf_count_t>(scaled.size())),
              static_cast<sf_count_t>(scaled.size()));
    sf_close(f);
    return path;
}
void setFlacTotal(const std::string& from, const std::string& to, std::uint64_t total) {
    Bytes b = test::readFile(from);
    ASSERT_EQ(std::string(b.begin(), b.begin() + 4), "fLaC");
    b.at(21) = static_cast<std::uint8_t>((b.at(21) & 0xF0) | ((total >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) {
        b.at(22 + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(total >> (24 - 8 * i));
    }
    test::writeFile(to, b);
}

TEST_F(CliRunTest, AFlacPromisingMoreThanItHoldsIsReadAsTheFramesThereAre) {
    // Noise long enough for several read windows and both cores' share of the columns.
    const std::vector<double> noise = pinkNoise(13.0);
    const std::string truth = flac16(dir.file("truth.flac"), noise);
    std::string lying;
    for (const std::uint64_t more : {1ULL, 3000ULL, 300000ULL, 1ULL << 34}) {
        const std::string name = "lying" + std::to_string(more) + ".flac";
        setFlacTotal(truth, dir.file(name), noise.size() + more);
        lying += " " + dir.file(name);
    }
    for (const char* command : {"image", "levels"}) {
        const std::string out = dir.file(command);
        const ProgramRun once =
            run(std::string(command) + " --jobs 1 --out " + out + " " + truth + lying);
        EXPECT_EQ(once.status, 0) << once.errors;
        const ProgramRun again =
            run(std::string(command) + " --jobs 3 --out " + out + "2 " + truth + lying);
        EXPECT_EQ(again.status, 0) << again.errors;
        const bool image = std::string(command) == "image";
        // The log's second line names its file.
        const auto content = [image](const std::string& path) {
            const Bytes b = test::readFile(path);
            std::string text(b.begin(), b.end());
            if (!image) {
                const std::size_t first = text.find('\n');
                text.erase(first + 1, text.find('\n', first + 1) - first);
            }
            return text;
        };
        const std::string expected = content(out + "/truth" + (image ? ".png" : ".txt"));
        ASSERT_GT(expected.size(), 1000u);
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(content(entry.path().string()) == expected) << name;
            EXPECT_TRUE(content(out + "2/" + name) == expected) << name;
        }
    }
}

TEST_F(CliRunTest, AGsmWaveFileIsReadThroughout) {
    // GSM 6.10 at 8 kHz, long enough for several read windows and both cores: a decoder that
    // cannot seek, read from where each window needs it.
    const std::string gsm = dir.file("gsm.wav");
    ASSERT_TRUE(test::writeSound(gsm, SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1, 8000 * 70, 0.5,
                                 nullptr, 1000.0));
    std::filesystem::copy_file(gsm, dir.file("gsm2.wav"));
    for (const char* jobs : {"1", "2"}) {
        const std::string out = dir.file(std::string("out") + jobs);
        const ProgramRun r = run("levels --csv --time-step 100 --jobs " + std::string(jobs) +
                                 " --out " + out + " " + gsm + " " + dir.file("gsm2.wav"));
        EXPECT_EQ(r.status, 0) << r.errors;
        for (const char* name : {"/gsm.levels.csv", "/gsm2.levels.csv"}) {
            const auto rows = csvRows(out + name);
            ASSERT_GT(rows.size(), 690u); // a column each 100 msec of the 70 s
            for (std::size_t x = 1; x < rows.size(); ++x) {
                const std::size_t loudest = loudestOf(rows[x]).first;
                EXPECT_NEAR(std::stod(rows[0].at(loudest)), 1000.0, 10.0) << rows[x][0];
            }
        }
    }
}

TEST_F(CliRunTest, EveryDateABroadcastChunkHoldsGivesAbsoluteTimes) {
    // The first and the last day four digits hold; from the last, the file runs into the year
    // 10000, written as ISO 8601's expanded year.
    for (const auto& [date, first, last] :
         {std::tuple{"0000-01-01", "0000-01-01T00:00:00.", "0000-01-01T00:00:01."},
          std::tuple{"9999-12-31", "9999-12-31T23:59:59.", "+10000-01-01T00:00:00."}}) {
        const std::string time = std::string(date) == "0000-01-01" ? "00:00:00" : "23:59:59";
        const Bytes bext = test::bextChunk(date, time.c_str(), 0);
        const std::string file =
            wave("bwf.wav", test::monoWaveWith(bext, kRate, pcm16(sine(1000.0, 1.5))));
        const ProgramRun r = run("levels --csv --absolute-time --time-step 50 " + file);
        ASSERT_EQ(r.status, EXIT_ALL_DONE) << r.errors;
        const auto rows = csvRows(dir.file("bwf.levels.csv"));
        ASSERT_GT(rows.size(), 25u);
        EXPECT_EQ(rows[1][0].rfind(first, 0), 0u) << rows[1][0];
        EXPECT_EQ(rows.back()[0].rfind(last, 0), 0u) << rows.back()[0];
    }
}

TEST_F(CliRunTest, OggStreamsJoinedOneAfterAnotherAreReadToTheEnd) {
    // Two Vorbis streams, as cat joins them: 2 s at 1000 Hz, then 2 s at 2000 Hz.
    for (const auto& [name, hz, rate] :
         {std::tuple{"one.ogg", 1000.0, 44100}, std::tuple{"two.ogg", 2000.0, 44100},
          std::tuple{"slow.ogg", 2000.0, 22050}}) {
        ASSERT_TRUE(test::writeSound(dir.file(name), SF_FORMAT_OGG | SF_FORMAT_VORBIS, rate, 1,
                                     2 * rate, 0.5, nullptr, hz));
    }
    ASSERT_EQ(
        shell("cat one.ogg two.ogg > joined.ogg && cat one.ogg slow.ogg > changed.ogg").status, 0);
    const ProgramRun r = run("levels --csv --time-step 20 --jobs 1 " + dir.file("joined.ogg"));
    EXPECT_EQ(r.status, 0) << r.errors;
    const auto rows = csvRows(dir.file("joined.levels.csv"));
    ASSERT_GE(rows.size(), 199u); // a column each 20 msec of the 4 s
    for (std::size_t x = 1; x < rows.size(); ++x) {
        const double msec = std::stod(rows[x][0]);
        if (std::abs(msec - 2000.0) > 100.0) {
            const double hz = std::stod(rows[0].at(loudestOf(rows[x]).first));
            EXPECT_NEAR(hz, msec < 2000.0 ? 1000.0 : 2000.0, 30.0) << msec;
        }
    }
    // Streams of another rate cannot be one picture: said where, nothing written.
    const ProgramRun changed = run("levels --csv " + dir.file("changed.ogg"));
    EXPECT_EQ(changed.status, EXIT_SOME_FAILED);
    EXPECT_THAT(changed.errors, HasSubstr("changed.ogg: Ogg streams joined one after another "
                                          "change their rate or channels at 2.0 s; not read"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("changed.levels.csv")));
}

} // namespace
} // namespace korv::cli
