#include "platform/prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

namespace korv {

FileRequest waveFileRequest(const QString& title, const std::string& folder) {
    FileRequest r;
    r.title = title;
    r.folder = displayFileName(folder);
    r.filter = QStringLiteral("Wave Files (*.wav);;All Files (*)");
    return r;
}

FileRequest soundFileRequest(const QString& title, const std::string& folder) {
    FileRequest r = waveFileRequest(title, folder);
    r.filter =
        QStringLiteral("Sound Files (*.wav *.wave *.flac *.ogg *.oga *.opus *.mp3 *.aif "
                       "*.aiff *.aifc *.w64 *.rf64 *.caf);;Wave Files (*.wav);;All Files (*)");
    return r;
}

namespace {

Prompts* current = nullptr;

QtPrompts& desktopPrompts() {
    static QtPrompts prompts;
    return prompts;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Stop:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QString describe(const char* what, const FileRequest& request) {
    return QString::fromLatin1(what) + QStringLiteral(": ") + request.title;
}

} // namespace

QString withDefaultSuffix(const QString& name, const QString& suffix) {
    // The desktop's rule: a file name without any dot takes the suffix.
    if (suffix.isEmpty() || QFileInfo(name).fileName().contains(QLatin1Char('.'))) {
        return name;
    }
    return name + QLatin1Char('.') + suffix;
}

std::string fileNameBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString displayFileName(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

QString replaceQuestion(const QString& path) {
    return QStringLiteral("%1 already exists.\nDo you want to replace it?")
        .arg(QFileInfo(path).fileName());
}

QString appendQuestion(const QString& path) {
    return QStringLiteral("%1 already exists.\nDo you want to add to it?")
        .arg(QFileInfo(path).fileName());
}

std::optional<QString> Prompts::saveFile(FileRequest request) {
    for (;;) {
        std::optional<QString> chosen = chooseSaveFile(request);
        if (!chosen || !QFileInfo::exists(*chosen) ||
            question(request.title,
                     request.appends ? appendQuestion(*chosen) : replaceQuestion(*chosen))) {
            return chosen;
        }
        request.fileName = *chosen; // No: back to the dialog, the name still in it
    }
}

QString controlName(int id) {
    return QString::number(id);
}

Prompts& prompts() {
    return current != nullptr ? *current : desktopPrompts();
}

void setPrompts(Prompts* prompts) {
    current = prompts;
}

void showMessage(const QString& text, MessageIcon icon) {
    prompts().message(text, icon);
}

void showMessage(const UserMessage& message) {
    prompts().show(message);
}

// --- The desktop's dialogs ---

void QtPrompts::message(const QString& text, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok,
                    owner_);
    box.exec();
}

void QtPrompts::messageWithDetails(const QString& text, const QString& details, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok,
                    owner_);
    box.setDetailedText(details);
    box.exec();
}

bool QtPrompts::question(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner_);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::about(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner_);
    box.exec();
}

void QtPrompts::beep() {
    QApplication::beep();
}

std::optional<QString> QtPrompts::openFile(const FileRequest& request) {
    QFileDialog dialog(owner_, request.title, request.folder, request.filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

std::optional<QStringList> QtPrompts::openFiles(const FileRequest& request) {
    QFileDialog dialog(owner_, request.title, request.folder, request.filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles();
}

std::optional<QString> QtPrompts::chooseSaveFile(const FileRequest& request) {
    QFileDialog dialog(owner_, request.title, request.folder, request.filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // A native dialog would ask about the name as typed, before the suffix is added:
    // saveFile asks about the final name instead.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

bool QtPrompts::choosePrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, owner_);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrompts::runDialog(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

// --- Answers from a script ---

void ScriptedPrompts::queueFile(const QString& path) {
    fileAnswers_.emplace_back(QStringList{path});
}

void ScriptedPrompts::queueFiles(const QStringList& paths) {
    fileAnswers_.push_back({paths});
}

void ScriptedPrompts::queueCancel() {
    fileAnswers_.push_back({});
}

void ScriptedPrompts::queueDialog(DialogScript script) {
    dialogScripts_.push_back(std::move(script));
}

void ScriptedPrompts::queueAnswer(bool yes) {
    questionAnswers_.push_back(yes);
}

void ScriptedPrompts::queuePrinter(bool accept, const QString& pdfFile) {
    printerAnswers_.push_back({accept, pdfFile, {}});
}

void ScriptedPrompts::queuePrintQueue(const QString& queue) {
    printerAnswers_.push_back({true, {}, queue});
}

int ScriptedPrompts::pendingAnswers() const {
    return static_cast<int>(fileAnswers_.size() + dialogScripts_.size() + printerAnswers_.size() +
                            questionAnswers_.size());
}

void ScriptedPrompts::message(const QString& text, MessageIcon icon) {
    messages_.push_back({text.toStdString(), icon});
    details_.push_back(QString());
}

void ScriptedPrompts::messageWithDetails(const QString& text, const QString& details,
                                         MessageIcon icon) {
    messages_.push_back({text.toStdString(), icon});
    details_.push_back(details);
}

bool ScriptedPrompts::question(const QString& caption, const QString& text) {
    questions_.push_back(text);
    if (questionAnswers_.empty()) {
        unscripted_.push_back(QStringLiteral("question: ") + caption + QStringLiteral(": ") + text);
        return false;
    }
    const bool yes = questionAnswers_.front();
    questionAnswers_.pop_front();
    return yes;
}

std::optional<QStringList> ScriptedPrompts::takeFiles(const FileRequest& request,
                                                      const char* what) {
    fileRequests_.push_back(request);
    if (fileAnswers_.empty()) {
        unscripted_.push_back(describe(what, request));
        return std::nullopt;
    }
    const QStringList answer = fileAnswers_.front().files;
    fileAnswers_.pop_front();
    if (answer.isEmpty()) {
        return std::nullopt;
    }
    return answer;
}

std::optional<QString> ScriptedPrompts::openFile(const FileRequest& request) {
    auto files = takeFiles(request, "open file");
    if (!files) {
        return std::nullopt;
    }
    return files->front();
}

std::optional<QStringList> ScriptedPrompts::openFiles(const FileRequest& request) {
    return takeFiles(request, "open files");
}

std::optional<QString> ScriptedPrompts::chooseSaveFile(const FileRequest& request) {
    auto files = takeFiles(request, "save file");
    if (!files) {
        return std::nullopt;
    }
    return withDefaultSuffix(files->front(), request.defaultSuffix);
}

bool ScriptedPrompts::choosePrinter(QPrinter& printer) {
    if (printerAnswers_.empty()) {
        unscripted_.push_back(QStringLiteral("printer"));
        return false;
    }
    const PrinterAnswer answer = printerAnswers_.front();
    printerAnswers_.pop_front();
    if (answer.accept && !answer.pdfFile.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(answer.pdfFile);
    } else if (answer.accept && !answer.queue.isEmpty()) {
        printer.setOutputFormat(QPrinter::NativeFormat);
        printer.setPrinterName(answer.queue);
    }
    return answer.accept;
}

bool ScriptedPrompts::runDialog(QDialog& dialog) {
    const QString name = dialog.objectName().isEmpty()
                             ? QString::fromLatin1(dialog.metaObject()->className())
                             : dialog.objectName();
    dialogsRun_.push_back(name);
    if (dialogScripts_.empty()) {
        unscripted_.push_back(QStringLiteral("dialog: ") + name);
        return false;
    }
    DialogScript script = std::move(dialogScripts_.front());
    dialogScripts_.pop_front();
    // The script runs inside the dialog's own modal loop, as a user would act on it; a dialog
    // the script leaves open is rejected so the test cannot hang.
    bool leftOpen = false;
    QTimer::singleShot(0, &dialog, [&dialog, &script, &leftOpen] {
        script(dialog);
        if (dialog.isVisible()) {
            leftOpen = true;
            dialog.reject();
        }
    });
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (leftOpen) {
        unscripted_.push_back(QStringLiteral("dialog left open: ") + name);
    }
    return accepted;
}

bool ScriptedPrompts::clickButton(QDialog& dialog, int id) {
    auto* button = dialog.findChild<QAbstractButton*>(controlName(id));
    if (button == nullptr) {
        return false;
    }
    button->click();
    return true;
}

void ScriptedPrompts::pressOk(QDialog& dialog) {
    if (clickButton(dialog, kOkButtonId)) {
        return;
    }
    if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
        if (auto* ok = box->button(QDialogButtonBox::Ok)) {
            ok->click();
            return;
        }
    }
    dialog.accept();
}

void ScriptedPrompts::pressCancel(QDialog& dialog) {
    if (clickButton(dialog, kCancelButtonId)) {
        return;
    }
    if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
        if (auto* cancel = box->button(QDialogButtonBox::Cancel)) {
            cancel->click();
            return;
        }
    }
    dialog.reject();
}

} // namespace korv
