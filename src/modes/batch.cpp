#include "modes/batch.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/progress_panel.h"
#include "base/user_message.h"
#include "dialogs/image_dialog.h"
#include "modes/analyze_file.h"
#include "modes/batch_steps.h"
#include "platform/commands.h"
#include "platform/prompts.h"

#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

namespace korv {

namespace {

inline const UserMessage kSelectOneChannel{"Select Individual Left or Right Channel",
                                           MessageIcon::Warning};
inline const UserMessage kMultipleFilesRequired{"Multiple Files Required", MessageIcon::Warning};
inline constexpr const char* kNotAnalysedAfterStop = "not analysed: the batch was stopped";
inline constexpr const char* kSameImageName = "not analysed: same image name as ";

// While a step runs, its messages are collected for the summary instead of stopping the batch
// with a box per file; everything else is answered by the prompts in force.
class CollectingPrompts : public Prompts {
  public:
    explicit CollectingPrompts(Prompts& inner) : inner_(inner) {}
    void message(const QString& text, MessageIcon) override { texts.push_back(text); }
    void messageWithDetails(const QString& text, const QString& details, MessageIcon) override {
        texts.push_back(text + QStringLiteral(": ") + details);
    }
    bool question(const QString& caption, const QString& text) override {
        return inner_.question(caption, text);
    }
    void about(const QString& caption, const QString& text) override {
        inner_.about(caption, text);
    }
    void beep() override { inner_.beep(); }
    std::optional<QString> openFile(const FileRequest& r) override { return inner_.openFile(r); }
    std::optional<QStringList> openFiles(const FileRequest& r) override {
        return inner_.openFiles(r);
    }
    std::optional<QString> chooseSaveFile(const FileRequest& r) override {
        return inner_.chooseSaveFile(r);
    }
    bool choosePrinter(QPrinter& printer) override { return inner_.choosePrinter(printer); }
    bool runDialog(QDialog& dialog) override { return inner_.runDialog(dialog); }

    QStringList texts;

  private:
    Prompts& inner_;
};

void endBatch(MainWindow& window) {
    AppState& s = window.state();
    Batch& b = batch(window);
    finishPendingWrite(b);
    std::vector<std::string> skipped = std::move(b.skipped);
    const std::size_t count = b.chosen;
    for (std::size_t k = b.next; k < b.files.size(); ++k) {
        skipped.push_back(fileName(b.files[k]) + ": " + kNotAnalysedAfterStop);
    }
    b = Batch{};
    s.control.batchRunning = false;
    s.control.batchStopRequested = false;
    s.control.titleNote.clear();
    if (ProgressPanel* progress = progressPanel(window)) {
        progress->finish();
    }
    window.showFileInTitle(displayFileName(s.analysis.run.file));
    window.surface().invalidate();
    if (!skipped.empty()) {
        // However long the list, the box stays short: the list is its scrolling detail.
        QStringList lines;
        for (const std::string& line : skipped) {
            lines.push_back(displayFileName(line));
        }
        prompts().messageWithDetails(
            QStringLiteral("%1 of %2 files were not saved.").arg(skipped.size()).arg(count),
            lines.join(QLatin1Char('\n')), MessageIcon::Warning);
    }
}

// One step: Analyze File on the next file; its end (Save Image) posts the following step.
void runStep(MainWindow& window) {
    AppState& s = window.state();
    Batch& b = batch(window);
    if (!s.control.batchRunning) {
        return;
    }
    if (b.next >= b.files.size() || s.control.batchStopRequested) {
        endBatch(window);
        return;
    }
    const std::string file = b.files[b.next];
    ++b.next;
    s.settings.highBandHz = b.highBandHz;
    s.control.titleNote = QStringLiteral("%1 of %2").arg(b.next).arg(b.files.size()).toStdString();
    if (ProgressPanel* progress = progressPanel(window)) {
        progress->start(); // once for the whole batch
        progress->setStage(QStringLiteral("File %1 of %2: %3")
                               .arg(b.next)
                               .arg(b.files.size())
                               .arg(displayFileName(fileName(file))),
                           static_cast<int>(b.next - 1), static_cast<int>(b.files.size()));
    }
    b.stepDone = false;
    Prompts& outer = prompts();
    CollectingPrompts collecting(outer);
    setPrompts(&collecting);
    analyzeFile(window, cmd::kFromBatch);
    setPrompts(&outer);
    if (!b.stepDone) {
        // The file was refused (too short, not PCM, unreadable) or its image not saved.
        const QString reason = collecting.texts.isEmpty()
                                   ? QStringLiteral("not analysed")
                                   : collecting.texts.join(QStringLiteral("; "));
        b.skipped.push_back(fileName(file) + ": " + reason.toStdString());
    }
    window.commands().post(cmd::kAnalyzeBatch, cmd::kBatchNextFile);
}

// Files whose image would replace an earlier file's (rec.wav and rec.flac both give rec.bmp)
// are taken out of the list and named in the summary.
std::vector<std::string> refuseSameImageNames(std::vector<std::string>& files, ImageFormat format) {
    std::map<std::string, std::string> images;
    std::vector<std::string> kept;
    std::vector<std::string> refused;
    for (std::string& file : files) {
        const auto [at, fresh] = images.emplace(batchImagePath(file, format), file);
        if (fresh) {
            kept.push_back(std::move(file));
        } else {
            refused.push_back(fileName(file) + ": " + kSameImageName + fileName(at->second));
        }
    }
    files = std::move(kept);
    return refused;
}

void startBatch(MainWindow& window) {
    AppState& s = window.state();
    const AppSettings& st = s.settings;
    if (st.stereo && st.channel == StereoChannel::Dual) {
        prompts().show(kSelectOneChannel);
        return;
    }
    const FileRequest request =
        soundFileRequest(QStringLiteral("Open Multiple Wave Files"), st.lastFolder);
    const auto chosen = prompts().openFiles(request);
    if (!chosen) {
        return;
    }
    if (chosen->size() < 2) {
        prompts().show(kMultipleFilesRequired);
        return;
    }
    std::vector<std::string> files;
    for (const QString& f : *chosen) {
        files.push_back(fileNameBytes(f));
    }
    const std::filesystem::path images =
        std::filesystem::path(files.front()).parent_path() / kImagesFolder;
    std::error_code error;
    std::filesystem::create_directories(images, error);
    if (!std::filesystem::is_directory(images, error)) {
        prompts().show(kCannotOpenFile);
        return;
    }
    if (!runImageDialog(prompts(), s.imageChoices)) {
        return;
    }
    Batch& b = batch(window);
    b = Batch{};
    b.chosen = files.size();
    b.skipped = refuseSameImageNames(files, s.imageChoices.format);
    b.files = std::move(files);
    b.choices = s.imageChoices;
    b.highBandHz = s.settings.highBandHz;
    s.control.batchRunning = true;
    s.control.batchStopRequested = false;
    runStep(window);
}

} // namespace

void installBatch(MainWindow& window) {
    window.keepPart(std::make_shared<Batch>());
    MainWindow* w = &window;
    window.registerCommand(cmd::kAnalyzeBatch, [w](int param) {
        if (param == cmd::kBatchNextFile) {
            runStep(*w);
        } else if (!w->state().control.batchRunning) {
            startBatch(*w);
        }
    });
}

} // namespace korv
