// The program itself, run as scripts/run-demo runs it where there is no display: the window
// saved as a picture, the arguments handed over as the system gives them (bytes).

#include "support/temp_dir.h"
#include "support/test_signals.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace korv {
namespace {

// A run of the program on `file`: its exit status, and what it wrote to the error stream.
struct ScreenshotRun {
    int status = -1;
    std::string errors;
};
ScreenshotRun runScreenshot(const test::TempDir& dir, const std::string& file) {
    const QString errors = dir.file(QStringLiteral("errors.txt"));
    // The program's picture and settings in the folder; its environment is this process's.
    ::setenv("KORV_SCREENSHOT", QFile::encodeName(dir.file(QStringLiteral("shot.png"))), 1);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()), 1);
    std::string program = KORV_APP_PATH;
    std::string argument = file;
    std::vector<char*> argv{program.data(), argument.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, QFile::encodeName(errors).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ScreenshotRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::unsetenv("KORV_SCREENSHOT");
    run.errors = test::TempDir::read(errors).toStdString();
    return run;
}

// Writes `bytes` under a name given as bytes (Qt cannot spell every name).
bool writeBytesNamed(const std::string& path, const QByteArray& bytes) {
    std::ofstream out(path, std::ios::binary);
    return out.write(bytes.constData(), bytes.size()).flush().good();
}

// A file whose name is no valid UTF-8 is analysed all the same; one that cannot be analysed
// fails the run, and the message names it.
TEST(Screenshot, NamesTheFileThatFailedAndFindsNamesThatAreNoText) {
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    const std::string good = folder + "/ton\xe9.wav"; // Latin-1, as an old archive has it
    const std::string tiny = folder + "/kurz\xff.wav";
    ASSERT_TRUE(
        writeBytesNamed(good, test::waveFile(22050, 1, 16, 22050, test::sines({1000.0}, 22050))));
    ASSERT_TRUE(writeBytesNamed(tiny, QByteArray(100, '\0')));

    const ScreenshotRun analysed = runScreenshot(dir, good);
    EXPECT_EQ(analysed.status, 0) << analysed.errors;
    EXPECT_EQ(analysed.errors.find("Cannot Open File"), std::string::npos) << analysed.errors;
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("shot.png"))));

    const ScreenshotRun refused = runScreenshot(dir, tiny);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.errors.find(tiny + ": Sample Size Too Small"), std::string::npos)
        << refused.errors;
    ::unlink(good.c_str());
    ::unlink(tiny.c_str());
}

} // namespace
} // namespace korv
