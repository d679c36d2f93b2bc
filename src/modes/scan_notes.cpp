#include "modes/scan_notes.h"

#include "app/main_window.h"
#include "platform/clock.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdint>

namespace korv {

namespace {

constexpr std::int64_t kCompletionNoteMs = 800;
constexpr int kWaveSavedNoteId = 136;
constexpr int kNoWaveSavedNoteId = 140;
constexpr const char* kWaveSavedNote =
    "Audio Scanning Complete.  Wave data has been saved to file.";
constexpr const char* kNoWaveSavedNote = "Audio Scanning Complete.  No wave data has been saved.";

} // namespace

void showScanCompleteNote(MainWindow& window, Clock& clock, bool waveSaved) {
    QDialog note(&window);
    note.setObjectName(QString::number(waveSaved ? kWaveSavedNoteId : kNoWaveSavedNoteId));
    note.setWindowTitle(QString::fromLatin1(kMessageCaption));
    auto* layout = new QVBoxLayout(&note);
    layout->addWidget(
        new QLabel(QString::fromLatin1(waveSaved ? kWaveSavedNote : kNoWaveSavedNote), &note));
    auto* ok = new QPushButton(QStringLiteral("OK"), &note);
    ok->setObjectName(controlName(kOkButtonId));
    QObject::connect(ok, &QPushButton::clicked, &note, &QDialog::accept);
    layout->addWidget(ok);
    note.show();
    QCoreApplication::processEvents();
    clock.sleep(kCompletionNoteMs);
    ok->click();
}

} // namespace korv
