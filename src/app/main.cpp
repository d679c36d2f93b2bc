// Korvanthile: an audio spectrum analyser. Start-up: the window, the settings, the command
// line, then the event loop until the window closes.

#include "app/main_window.h"
#include "app/modes.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvanthile"));
    QApplication::setQuitOnLastWindowClosed(true);

    korv::MainWindow window;
    korv::QtPrompts desktopPrompts(&window);
    korv::setPrompts(&desktopPrompts);
    korv::installModes(window);
    window.show();

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    window.startUp(arguments.join(QLatin1Char(' ')));
    // Where there is no display to look at, the window is saved as a picture instead.
    const QString screenshot = qEnvironmentVariable("KORV_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QApplication::processEvents();
        const bool saved = window.grab().save(screenshot);
        window.close();
        korv::setPrompts(nullptr);
        return saved ? 0 : 1;
    }
    const int result = QApplication::exec();
    korv::setPrompts(nullptr);
    return result;
}
