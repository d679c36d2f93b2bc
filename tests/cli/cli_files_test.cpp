// korvanthile-cli on the files a new user gives it: lists that are no lists, sound files whose
// headers do not say how long they are, and the names of what it writes.

#include "cli/cli_support.h"

namespace korv::cli {
namespace {

TEST_F(CliProgramTest, AListThatCannotBeReadIsNamedWithTheReason) {
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

TEST_F(CliProgramTest, EveryFailureNamesTheFileAndTheReason) {
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
    EXPECT_EQ(typo.errors, "korvanthile-cli: imagez: not a command (image, levels, bands)\n");
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

TEST_F(CliProgramTest, AnOutputNameAsLongAsTheFolderTakesIsWritten) {
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

} // namespace
} // namespace korv::cli
