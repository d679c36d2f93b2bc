// Korvanthile: an audio spectrum analyser. Start-up: the window, the settings, the command
// line, then the event loop until the window closes.

#include "app/main_window.h"
#include "app/modes.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

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

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    window.startUp(arguments);
    if (!screenshot.isEmpty()) {
        QApplication::processEvents();
        const bool saved = window.grab().save(screenshot);
        window.close();
        korv::setPrompts(nullptr);
        for (const korv::UserMessage& m : unattended.messages()) {
            std::fprintf(stderr, "%s: %s\n", korv::kMessageCaption, m.text.c_str());
        }
        return saved ? 0 : 1;
    }
    const int result = QApplication::exec();
    korv::setPrompts(nullptr);
    return result;
}
