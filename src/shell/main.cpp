// Korvanthile: an audio spectrum analyser. Start-up: the window, the settings, the command
// line, then the event loop until the window closes.

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "platform/prompts.h"
#include "shell/modes.h"

#include <QApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The window saved as a picture where there is no display to look at. The messages go to the
// error stream, each naming the file of the command line; the run fails (exit status 1) when
// that file was not analysed or the picture could not be saved. (The sound the analysis then
// plays is no part of it: a machine without a sound card still makes its pictures.)
int saveScreenshot(korv::MainWindow& window, const korv::ScriptedPrompts& unattended,
                   const QString& screenshot, const std::vector<std::string>& arguments) {
    QApplication::processEvents();
    const bool saved = window.grab().save(screenshot);
    const std::string given = korv::parseCommandLine(arguments).fileName;
    const bool analysed = given.empty() || window.state().held.spectralImage;
    window.close();
    korv::setPrompts(nullptr);
    const std::vector<korv::UserMessage>& messages = unattended.messages();
    const std::string file = given.empty() ? std::string() : given + ": ";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        std::fprintf(stderr, "%s: %s%s\n", korv::kMessageCaption, file.c_str(),
                     messages[i].text.c_str());
        const QString& details = unattended.messageDetails().at(static_cast<qsizetype>(i));
        if (!details.isEmpty()) {
            std::fprintf(stderr, "%s\n", details.toLocal8Bit().constData());
        }
    }
    if (!analysed && messages.empty()) {
        std::fprintf(stderr, "%s: %snot analysed\n", korv::kMessageCaption, file.c_str());
    }
    return saved && analysed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvanthile"));
    // Ties the window to the installed desktop entry (its icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("korvanthile"));
    QApplication::setQuitOnLastWindowClosed(true);

    // Where there is no display to look at, the window is saved as a picture instead. Nobody
    // can answer a message box then: messages go to the error stream and dialogs are
    // cancelled, so the run cannot stop and wait.
    const QString screenshot = qEnvironmentVariable("KORV_SCREENSHOT");
    korv::MainWindow window;
    korv::QtPrompts desktopPrompts(&window);
    korv::ScriptedPrompts unattended;
    if (screenshot.isEmpty()) {
        korv::setPrompts(&desktopPrompts);
    } else {
        korv::setPrompts(&unattended);
    }
    korv::installModes(window);
    window.show();

    // The arguments as the system gives them: a file name need not be valid text. QApplication
    // has taken out the options that were its own.
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    window.startUp(arguments);
    if (!screenshot.isEmpty()) {
        return saveScreenshot(window, unattended, screenshot, arguments);
    }
    const int result = QApplication::exec();
    korv::setPrompts(nullptr);
    return result;
}
