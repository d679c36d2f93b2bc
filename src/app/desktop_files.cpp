#include "app/desktop_files.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "platform/prompts.h"
#include "settings/preferences.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <ranges>
#include <system_error>
#include <vector>

namespace korv {

namespace {

// Absolute and without "." or "..", so a name given relative to one folder still finds the
// file from another; kept as given when that cannot be done.
std::string absoluteName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(path, error).lexically_normal();
    return error ? path : file.string();
}

// "&1 /data/bats/night 1.wav": the number is the item's key; an '&' of the name is shown.
QString recentItemText(std::size_t index, const std::string& path) {
    QString number = QString::number(index + 1);
    number.insert(number.size() - 1, QLatin1Char('&'));
    QString name = displayFileName(path);
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return number + QLatin1Char(' ') + name;
}

void fillRecentFiles(MainWindow& window) {
    QMenu* menu = window.menu().recentFiles();
    const AppState& s = window.state();
    if (s.control.modeRunning) {
        // The run may be one an item started: its items stay, greyed, until it is over.
        menu->menuAction()->setEnabled(false);
        return;
    }
    menu->clear();
    const std::vector<std::string>& files = s.preferences.recentFiles;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string path = files[i];
        QAction* item = menu->addAction(recentItemText(i, path));
        std::error_code error;
        item->setEnabled(std::filesystem::is_regular_file(path, error));
        MainWindow* w = &window;
        QObject::connect(item, &QAction::triggered, item, [w, path] {
            const std::string given[] = {path};
            openGivenFiles(*w, given);
        });
    }
    menu->menuAction()->setEnabled(!files.empty());
}

// The local files of a drag; none for anything else (web addresses, text).
std::vector<std::string> droppedFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.push_back(fileNameBytes(url.toLocalFile()));
        }
    }
    return files;
}

// Takes the window's drags: files are offered only while no mode runs.
class FileDrops : public QObject {
  public:
    explicit FileDrops(MainWindow& window) : QObject(&window), window_(window) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (takesFiles() && !droppedFiles(drag->mimeData()).empty()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const std::vector<std::string> files = droppedFiles(drop->mimeData());
            if (!takesFiles() || files.empty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // Opened once the drop is over, so the program the file came from is not kept
            // waiting while it is analysed.
            MainWindow* w = &window_;
            QMetaObject::invokeMethod(
                w, [w, files] { openGivenFiles(*w, files); }, Qt::QueuedConnection);
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

  private:
    [[nodiscard]] bool takesFiles() const { return !window_.state().control.modeRunning; }

    MainWindow& window_;
};

} // namespace

void nameFileAsFromCommandLine(MainWindow& window, const std::string& path) {
    AppState& s = window.state();
    s.control.fileFromCommandLine = true;
    s.control.fileNameBuffer = path;
    // The file's folder becomes the current one, as the later dialogs expect; a name relative
    // to the old one is kept whole so it still finds the file. The name goes on as the bytes
    // given, so a name that is no valid text in the locale is still found.
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(path, error).lexically_normal();
    if (!error && std::filesystem::is_directory(file.parent_path(), error)) {
        s.control.fileNameBuffer = file.string();
        std::filesystem::current_path(file.parent_path(), error);
    }
    window.showFileInTitle(displayFileName(file.filename().string()));
}

bool openGivenFiles(MainWindow& window, std::span<const std::string> paths) {
    AppState& s = window.state();
    if (paths.empty() || s.control.modeRunning) {
        return false;
    }
    // The others after the first, in the order given, the first put before them when opened.
    for (const std::string& path : paths.subspan(1) | std::views::reverse) {
        rememberOpenedFile(s, path);
    }
    CommandLine line;
    line.kind = CommandLine::Kind::FileName;
    line.fileName = paths.front();
    const CommandLineEffects effects = applyCommandLine(line, s.settings);
    nameFileAsFromCommandLine(window, line.fileName);
    if (effects.start) {
        const bool analysed = effects.start->id == cmd::kAnalyzeFile;
        window.commands().send(effects.start->id,
                               analysed ? cmd::kGivenFile : effects.start->param);
    }
    return true;
}

void rememberOpenedFile(AppState& state, const std::string& path) {
    rememberRecentFile(state.preferences, absoluteName(path));
}

void installDesktopFiles(MainWindow& window) {
    MainWindow* w = &window;
    QObject::connect(window.menu().function(), &QMenu::aboutToShow, &window,
                     [w] { fillRecentFiles(*w); });
    fillRecentFiles(window);
    window.setAcceptDrops(true);
    window.installEventFilter(new FileDrops(window));
}

} // namespace korv
