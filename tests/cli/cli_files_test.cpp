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

} // namespace
} // namespace korv::cli
