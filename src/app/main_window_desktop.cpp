// What the window asks of the desktop: the manual in its browser, its volume control.

#include "app/main_window.h"

#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <csignal>
#include <sys/types.h>

namespace korv {

namespace {

// Korv.html beside the executable (the build tree, a portable copy), else where the
// installation puts the documentation, relative to the executable's bin folder.
QString manualPath() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/Korv.html");
    if (QFileInfo::exists(beside)) {
        return beside;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../") +
                           QLatin1String(KORV_INSTALL_DOCDIR) + QStringLiteral("/Korv.html"));
}

} // namespace

QString MainWindow::defaultManualPath() {
    return manualPath();
}

void MainWindow::startVolumeControl() {
    // Each use replaces the volume control started before by a new one.
    if (volumeControlPid_ > 0) {
        ::kill(static_cast<pid_t>(volumeControlPid_), SIGTERM);
        volumeControlPid_ = 0;
    }
    QProcess process;
    process.setProgram(options_.volumeProgram);
    process.setArguments(options_.volumeArguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    // Detached: the volume control is the desktop's program and may outlive this one.
    if (!process.startDetached(&pid) || pid <= 0) {
        const QString name = QFileInfo(options_.volumeProgram).fileName();
        prompts().message(QStringLiteral("Cannot locate volume control\nTried to start \"%1\"; "
                                         "install it with: sudo apt install %1")
                              .arg(name),
                          MessageIcon::None);
        return;
    }
    volumeControlPid_ = pid;
}

void MainWindow::openHelpTopics() {
    const QString& file = options_.helpFile;
    if (!QFileInfo::exists(file)) {
        prompts().message(
            QStringLiteral("Cannot Access Help\nThe manual Korv.html is not at %1").arg(file),
            MessageIcon::Warning);
        return;
    }
    const bool opened = options_.openHelp ? options_.openHelp(file)
                                          : QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    if (!opened) {
        // No browser the desktop could start: the user can still open the file by hand.
        prompts().message(
            QStringLiteral("Cannot Access Help\nOpen the manual in a web browser: %1").arg(file),
            MessageIcon::Warning);
    }
}

} // namespace korv
