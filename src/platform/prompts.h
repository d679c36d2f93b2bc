#pragma once
// Every message box, file dialog, print dialog and modal dialog of the program goes through
// one door, so tests can answer them from a script and still run the real dialog code.
//
// Control ids double as object names (controlName), so a script finds a dialog's controls
// by the same ids the dialog code uses.

#include "analysis/check_result.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QPrinter;

namespace korv {

inline constexpr const char* kMessageCaption = "Korvanthile";

// The desktop's ids of the OK and Cancel buttons, used as their object names too.
inline constexpr int kOkButtonId = 1;
inline constexpr int kCancelButtonId = 2;

// The object name that stands for a control id.
[[nodiscard]] QString controlName(int id);

// What a file dialog shows: title, initial folder, filter in the desktop's syntax
// ("Wave Files (*.wav);;All Files (*)"), an initial file name and, for a save dialog, the
// extension given to a name typed without one ("wav").
struct FileRequest {
    QString title;
    QString folder;
    QString filter;
    QString fileName;
    QString defaultSuffix;
    // The save adds to an existing file instead of replacing it (the point log).
    bool appends = false;
};

// `name` as a save dialog with `suffix` as its default extension returns it: the extension
// added when the file name has none.
[[nodiscard]] QString withDefaultSuffix(const QString& name, const QString& suffix);

// A file name as the system spells it (bytes, whatever the locale), from the desktop's text;
// and back again, for showing.
[[nodiscard]] std::string fileNameBytes(const QString& name);
[[nodiscard]] QString displayFileName(const std::string& bytes);

// The question asked before a save replaces the existing file `path`, or adds to it.
[[nodiscard]] QString replaceQuestion(const QString& path);
[[nodiscard]] QString appendQuestion(const QString& path);

// A dialog for wave files, opening in `folder` (the settings' last folder).
[[nodiscard]] FileRequest waveFileRequest(const QString& title, const std::string& folder);
// A dialog for opening any sound file the program reads, wave files among them.
[[nodiscard]] FileRequest soundFileRequest(const QString& title, const std::string& folder);

class Prompts {
  public:
    virtual ~Prompts() = default;

    // A message box captioned "Korvanthile" with an OK button and the icon (Warning is the
    // exclamation mark); returns when dismissed.
    virtual void message(const QString& text, MessageIcon icon) = 0;
    // The same for a message handed back by the core.
    void show(const UserMessage& m) { message(QString::fromStdString(m.text), m.icon); }
    // A short message with a long text (a list, say) behind it, shown in a scrolling area the
    // user opens, so the box stays smaller than the screen.
    virtual void messageWithDetails(const QString& text, const QString& details,
                                    MessageIcon icon) = 0;
    // A Yes / No question with the warning icon; true for Yes.
    [[nodiscard]] virtual bool question(const QString& caption, const QString& text) = 0;
    // A message box with its own caption and no icon (the About box). The caption is the
    // desktop's business, so by default only the text is shown.
    virtual void about(const QString& caption, const QString& text) {
        (void)caption;
        message(text, MessageIcon::None);
    }
    // The desktop's default beep.
    virtual void beep() = 0;
    // Full paths chosen, or nothing on Cancel.
    [[nodiscard]] virtual std::optional<QString> openFile(const FileRequest& request) = 0;
    [[nodiscard]] virtual std::optional<QStringList> openFiles(const FileRequest& request) = 0;
    // The name to save under, its default extension added: the dialog again while the user
    // declines to replace the existing file it names; nothing on Cancel.
    [[nodiscard]] std::optional<QString> saveFile(FileRequest request);
    // The save dialog alone: the name chosen, with the request's default extension added to a
    // name typed without one (the final name, which saveFile asks about); nothing on Cancel.
    [[nodiscard]] virtual std::optional<QString> chooseSaveFile(const FileRequest& request) = 0;
    // The printer choice; true when the user chose to print (`printer` is then set up).
    [[nodiscard]] virtual bool choosePrinter(QPrinter& printer) = 0;
    // Runs a modal dialog of the program; true when it was accepted (OK).
    [[nodiscard]] virtual bool runDialog(QDialog& dialog) = 0;
};

// The process's current prompts: the desktop's own unless main or a test set others.
[[nodiscard]] Prompts& prompts();
// Installs `current` (not owned; nullptr returns to the desktop's prompts).
void setPrompts(Prompts* current);

// The desktop's dialogs, owned by `owner` (the main window, may be null).
class QtPrompts : public Prompts {
  public:
    explicit QtPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    void message(const QString& text, MessageIcon icon) override;
    void messageWithDetails(const QString& text, const QString& details, MessageIcon icon) override;
    [[nodiscard]] bool question(const QString& caption, const QString& text) override;
    void about(const QString& caption, const QString& text) override;
    void beep() override;
    [[nodiscard]] std::optional<QString> openFile(const FileRequest& request) override;
    [[nodiscard]] std::optional<QStringList> openFiles(const FileRequest& request) override;
    [[nodiscard]] std::optional<QString> chooseSaveFile(const FileRequest& request) override;
    [[nodiscard]] bool choosePrinter(QPrinter& printer) override;
    [[nodiscard]] bool runDialog(QDialog& dialog) override;

  private:
    QWidget* owner_;
};

// Answers from a script and records what was asked. File dialogs take the queued file
// answers in order, a save dialog adding its default extension as the desktop's does;
// dialogs take the queued dialog scripts in order, questions the queued answers. A request
// with nothing queued is answered with Cancel (a question with No) and recorded in
// unscripted(), so a test can fail on it.
class ScriptedPrompts : public Prompts {
  public:
    // Sets the real dialog's controls and presses a button (pressOk / pressCancel), while the
    // dialog runs modally. A dialog still open after its script is rejected (and recorded).
    using DialogScript = std::function<void(QDialog&)>;

    // File answers, for openFile, openFiles and saveFile alike.
    void queueFile(const QString& path);
    void queueFiles(const QStringList& paths);
    void queueCancel();
    void queueDialog(DialogScript script);
    // The answer to the next question: true for Yes.
    void queueAnswer(bool yes);
    // The printer answer; with a file name the printer prints to that PDF file.
    void queuePrinter(bool accept, const QString& pdfFile = {});
    // The printer answer that chooses the system's print queue of that name.
    void queuePrintQueue(const QString& queue);

    // Every message shown, in order (text as UTF-8, so tests compare with the core's constants).
    [[nodiscard]] const std::vector<UserMessage>& messages() const { return messages_; }
    // The detail text of each message, in the same order (empty for a plain message).
    [[nodiscard]] const QStringList& messageDetails() const { return details_; }
    // Every question asked, in order.
    [[nodiscard]] const QStringList& questions() const { return questions_; }
    [[nodiscard]] const std::vector<FileRequest>& fileRequests() const { return fileRequests_; }
    [[nodiscard]] const QStringList& dialogsRun() const { return dialogsRun_; }
    // One line per request that found no answer waiting (or a dialog left open).
    [[nodiscard]] const QStringList& unscripted() const { return unscripted_; }
    [[nodiscard]] int beeps() const { return beeps_; }
    // Answers queued and not used yet.
    [[nodiscard]] int pendingAnswers() const;
    void clearMessages() {
        messages_.clear();
        details_.clear();
    }

    void message(const QString& text, MessageIcon icon) override;
    void messageWithDetails(const QString& text, const QString& details, MessageIcon icon) override;
    [[nodiscard]] bool question(const QString& caption, const QString& text) override;
    void beep() override { ++beeps_; }
    [[nodiscard]] std::optional<QString> openFile(const FileRequest& request) override;
    [[nodiscard]] std::optional<QStringList> openFiles(const FileRequest& request) override;
    [[nodiscard]] std::optional<QString> chooseSaveFile(const FileRequest& request) override;
    [[nodiscard]] bool choosePrinter(QPrinter& printer) override;
    [[nodiscard]] bool runDialog(QDialog& dialog) override;

    // Script helpers: press the dialog's OK or Cancel button (found by object name
    // controlName(kOkButtonId) / controlName(kCancelButtonId), else in a QDialogButtonBox),
    // or accept / reject it directly when it has no such button.
    static void pressOk(QDialog& dialog);
    static void pressCancel(QDialog& dialog);
    // Clicks the button named controlName(id); false when there is none.
    static bool clickButton(QDialog& dialog, int id);

  private:
    struct PrinterAnswer {
        bool accept = false;
        QString pdfFile;
        QString queue;
    };
    std::optional<QStringList> takeFiles(const FileRequest& request, const char* what);

    struct FileAnswer {
        QStringList files; // empty: Cancel
    };
    std::deque<FileAnswer> fileAnswers_;
    std::deque<DialogScript> dialogScripts_;
    std::deque<PrinterAnswer> printerAnswers_;
    std::deque<bool> questionAnswers_;
    std::vector<UserMessage> messages_;
    QStringList details_;
    QStringList questions_;
    std::vector<FileRequest> fileRequests_;
    QStringList dialogsRun_;
    QStringList unscripted_;
    int beeps_ = 0;
};

// Shows a message through the current prompts.
void showMessage(const QString& text, MessageIcon icon);
void showMessage(const UserMessage& message);

} // namespace korv
