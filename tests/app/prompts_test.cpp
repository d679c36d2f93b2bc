// The one door for message boxes, questions and dialogs: the scripted prompts the program
// tests answer, and the desktop's own, driven as a user would drive them. Then the program's
// dialogs driven through it: the scope markers, and what a user and a screen reader see of
// every dialog.

#include "app/support/platform_scopes.h"
#include "app/support/temp_dir.h"
#include "base/user_message.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/image_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/point_log_dialog.h"
#include "dialogs/scope_markers_dialog.h"
#include "platform/prompts.h"
#include "support/dialog_controls.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace korv {
namespace {

constexpr const char* kWaveFilter = "Wave Files (*.wav);;All Files (*)";

FileRequest fileRequest(const QString& title, const QString& folder, const QString& filter,
                        const QString& suffix = {}) {
    return {title, folder, filter, {}, suffix};
}

TEST(ScriptedPrompts, RecordMessagesAnswerFileDialogsInOrderAndRejectDialogsLeftOpen) {
    test::ScriptedPromptsScope scripted;
    showMessage(kCannotOpenFile);
    prompts().message(QStringLiteral("Dauer \u00fcber 10 s"), MessageIcon::Stop);
    prompts().beep();
    EXPECT_EQ(
        scripted->messages(),
        (std::vector<UserMessage>{kCannotOpenFile, {"Dauer \u00fcber 10 s", MessageIcon::Stop}}));
    EXPECT_EQ(scripted->beeps(), 1);

    scripted->queueFile("/tmp/a.wav");
    scripted->queueCancel();
    scripted->queueFiles({"/tmp/b.wav", "/tmp/c.wav"});
    scripted->queueFile("/tmp/out.bmp");
    const FileRequest request = fileRequest("Open", "/tmp", "Wave Files (*.wav)");
    EXPECT_EQ(prompts().openFile(request), QStringLiteral("/tmp/a.wav"));
    EXPECT_FALSE(prompts().openFile(request).has_value());
    EXPECT_EQ(prompts().openFiles(request), (QStringList{"/tmp/b.wav", "/tmp/c.wav"}));
    EXPECT_EQ(prompts().saveFile(request), QStringLiteral("/tmp/out.bmp"));
    ASSERT_EQ(scripted->fileRequests().size(), 4u);
    EXPECT_EQ(scripted->fileRequests()[0].filter, QStringLiteral("Wave Files (*.wav)"));

    // Nothing queued: Cancel, and the test can see that it was not expected (the first such).
    EXPECT_FALSE(prompts().saveFile(request).has_value());
    EXPECT_EQ(scripted->unscripted().size(), 1);
    EXPECT_EQ(scripted->pendingAnswers(), 0);

    // A plain message has no details beside it. (A long text behind a short message:
    // ImageExportTest.BatchSavesEveryGoodFileAndListsTheOthersAtTheEnd reads it there.)
    ASSERT_EQ(scripted->messageDetails().size(), 2);
    EXPECT_TRUE(scripted->messageDetails().front().isEmpty());

    // A script that leaves its dialog open (OK refused what was typed) has it rejected and
    // said, and a dialog without a script is cancelled and said; each dialog run is named by
    // its id. (OK and Cancel of a script:
    // ParameterDialog.TypedNumbersRadioGroupsAndOkTransferAndCancelDoesNot.)
    AppSettings settings;
    RunValues run = test::fileRun(22050, 0, 2000);
    scripted->queueDialog([](QDialog& d) {
        test::typeInto(d, ID_AVERAGE_EDIT, "x");
        ScriptedPrompts::pressOk(d);
    });
    ParameterDialog refused(DialogId::AnalyzeFile, settings, run);
    EXPECT_FALSE(prompts().runDialog(refused));
    EXPECT_FALSE(refused.isVisible());
    ASSERT_EQ(scripted->unscripted().size(), 2);
    EXPECT_TRUE(scripted->unscripted().back().contains(QStringLiteral("left open")));

    ScopeMarkersDialog unexpected(settings);
    EXPECT_FALSE(prompts().runDialog(unexpected));
    EXPECT_EQ(scripted->unscripted().size(), 3);
    EXPECT_EQ(scripted->dialogsRun(), (QStringList{"102", "146"}));
}

// Acts on the modal windows as they come up, one step each in order, from the event loop of
// whichever is running.
class ModalSteps : public QObject {
  public:
    explicit ModalSteps(std::vector<std::function<void(QWidget&)>> steps)
        : steps_(std::move(steps)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == nullptr || !w->isVisible() || w->property("handled").toBool() ||
                next_ >= steps_.size()) {
                return;
            }
            w->setProperty("handled", true);
            steps_[next_++](*w);
        });
        timer_.start(0);
    }
    [[nodiscard]] std::size_t done() const { return next_; }

  private:
    std::vector<std::function<void(QWidget&)>> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
};

// The desktop's file dialogs open where asked, with the filter asked for, and hand back the
// full path of what the user picked. Saving, "take1" typed names take1.wav, which is asked
// about (caption the dialog's title); No returns to the dialog and leaves the file, Yes gives
// the final name.
TEST(QtPrompts, FileDialogsOpenWhereAskedAndSavingAsksAboutTheNameWithItsExtension) {
    setPrompts(nullptr);
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString wave = dir.write(QStringLiteral("tone.wav"), QByteArray(64, '\0'));
    const QString old = dir.write(QStringLiteral("take1.wav"), "old");
    ASSERT_FALSE(wave.isEmpty());
    QString folder;
    QStringList shown;
    const auto pick = [&](bool accept) {
        return [&, accept](QWidget& w) {
            auto* dialog = qobject_cast<QFileDialog*>(&w);
            ASSERT_NE(dialog, nullptr);
            folder = dialog->directory().absolutePath();
            shown = QStringList{dialog->windowTitle()} + dialog->nameFilters();
            if (accept) {
                dialog->selectFile(wave);
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        };
    };
    const auto typeName = [](QWidget& w) {
        auto* dialog = qobject_cast<QFileDialog*>(&w);
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(QStringLiteral("take1"));
        static_cast<QDialog*>(dialog)->accept();
    };
    QString question;
    QString caption;
    const auto answer = [&](QMessageBox::StandardButton button) {
        return [&, button](QWidget& w) {
            auto* box = qobject_cast<QMessageBox*>(&w);
            ASSERT_NE(box, nullptr);
            question = box->text();
            caption = box->windowTitle();
            box->button(button)->click();
        };
    };
    ModalSteps steps({pick(true), pick(false), pick(true), typeName, answer(QMessageBox::No),
                      pick(false), typeName, answer(QMessageBox::Yes)});
    const FileRequest request = fileRequest("Open Wave File", dir.path(), kWaveFilter);
    EXPECT_EQ(prompts().openFile(request), wave);
    EXPECT_EQ(QDir(folder), QDir(dir.path()));
    EXPECT_EQ(shown, (QStringList{"Open Wave File", "Wave Files (*.wav)", "All Files (*)"}));
    EXPECT_FALSE(prompts().openFile(request).has_value());
    EXPECT_EQ(prompts().openFiles(request), QStringList{wave});

    const FileRequest save = fileRequest("Record Wave File", dir.path(), kWaveFilter, "wav");
    EXPECT_FALSE(prompts().saveFile(save).has_value());
    EXPECT_EQ(question, QStringLiteral("take1.wav already exists.\nDo you want to replace it?"));
    EXPECT_EQ(caption, QStringLiteral("Record Wave File"));
    EXPECT_EQ(test::TempDir::read(old), QByteArray("old"));
    EXPECT_EQ(prompts().saveFile(save), old);
    EXPECT_EQ(steps.done(), 8u);
}

// A message box carries the program's caption and the icon; a long list goes behind the
// message, in the box's scrolling detail.
TEST(QtPrompts, MessageBoxCarriesTheCaptionTheIconAndTheDetails) {
    setPrompts(nullptr);
    const QString list = QStringLiteral("a.wav: x\nb.wav: y");
    for (const auto& [icon, expected, details] :
         {std::tuple{MessageIcon::Warning, QMessageBox::Warning, QString()},
          std::tuple{MessageIcon::Stop, QMessageBox::Critical, QString()},
          std::tuple{MessageIcon::None, QMessageBox::NoIcon, QString()},
          std::tuple{MessageIcon::Warning, QMessageBox::Warning, list}}) {
        QStringList shown; // caption, text, details and the icon's number
        ModalSteps steps({[&](QWidget& w) {
            auto* box = qobject_cast<QMessageBox*>(&w);
            ASSERT_NE(box, nullptr);
            shown = {box->windowTitle(), box->text(), box->detailedText(),
                     QString::number(box->icon())};
            box->button(QMessageBox::Ok)->click();
        }});
        if (details.isEmpty()) {
            showMessage(QStringLiteral("Improper Time Span"), icon);
        } else {
            prompts().messageWithDetails(QStringLiteral("Improper Time Span"), details, icon);
        }
        EXPECT_EQ(shown,
                  (QStringList{QStringLiteral("Korvanthile"), QStringLiteral("Improper Time Span"),
                               details, QString::number(expected)}));
    }
}

using namespace test;

TEST(ScopeMarkers, EditsShowTheMarkersAndOkStoresThemWithinLimits) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.marker1Hz = 1500;
    settings.marker2Hz = 0;
    const auto markers = [&settings] { return std::pair(settings.marker1Hz, settings.marker2Hz); };
    prompts->queueDialog([](QDialog& d) {
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER1_EDIT)->text(), "1500");
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER2_EDIT)->text(), "0");
        // Each edit is named by its label, for the keyboard and a screen reader.
        for (const auto& [id, name] : {std::pair{ID_MARKER1_EDIT, "Marker 1 (Hz)"},
                                       std::pair{ID_MARKER2_EDIT, "Marker 2 (Hz)"}}) {
            EXPECT_EQ(control<QLineEdit>(d, id)->accessibleName(), name);
            EXPECT_TRUE(std::ranges::any_of(d.findChildren<QLabel*>(), [&](const QLabel* label) {
                return label->buddy() == control<QLineEdit>(d, id);
            })) << id;
        }
        typeInto(d, ID_MARKER1_EDIT, "30000");
        typeInto(d, ID_MARKER2_EDIT, "-x440"); // digits only: the edit takes "440"
        EXPECT_EQ(control<QLineEdit>(d, ID_MARKER2_EDIT)->text(), "440");
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(24000, 440));

    prompts->queueDialog([](QDialog& d) {
        control<QLineEdit>(d, ID_MARKER1_EDIT)->setText("-250"); // set past the edit's filter
        control<QLineEdit>(d, ID_MARKER2_EDIT)->clear();
        ScriptedPrompts::pressOk(d);
    });
    EXPECT_TRUE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(0, 0));

    settings.marker1Hz = 700;
    settings.marker2Hz = 900;
    prompts->queueDialog([](QDialog& d) {
        typeInto(d, ID_MARKER1_EDIT, "5");
        ScriptedPrompts::pressCancel(d);
    });
    EXPECT_FALSE(runScopeMarkersDialog(*prompts, settings));
    EXPECT_EQ(markers(), std::pair(700, 900));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// What a user sees of each dialog: it fits the screen, no control lies over another, every
// caption shows whole, and the title beside the frame's buttons. A screen reader names the
// dialog by its title and every field and bar.
TEST(DialogTitles, EveryDialogFitsShowsItsTextsWholeAndIsNamed) {
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.stereo = true;
    RunValues run = fileRun(44100, 0, 100000);
    ImageChoices choices;
    CalibrationCurve curve = settings.calibrationTable;
    std::vector<std::pair<std::unique_ptr<QDialog>, QString>> dialogs;
    dialogs.emplace_back(std::make_unique<ScopeMarkersDialog>(settings), "Scope Markers");
    dialogs.emplace_back(std::make_unique<ImageDialog>(choices), "Image Characteristics");
    dialogs.emplace_back(std::make_unique<PointLogDialog>(),
                         "Point Log - Click Point on Korvanthile");
    dialogs.emplace_back(std::make_unique<CalibrationDialog>(curve, *prompts),
                         "Frequency Calibration");
    for (const auto& [id, name] : {std::pair{DialogId::AnalyzeFile, "Analyze File"},
                                   {DialogId::ScanInput, "Scan Input"},
                                   {DialogId::ScanFile, "Scan File"},
                                   {DialogId::SpectrumPlot, "Spectrum Plot"}}) {
        dialogs.emplace_back(std::make_unique<ParameterDialog>(id, settings, run), name);
    }
    for (auto& [dialog, name] : dialogs) {
        SCOPED_TRACE(name.toStdString());
        QDialog& d = *dialog;
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&d);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->text(QAccessible::Name), name);
        QFont bold = d.font();
        bold.setBold(true);
        const QFontMetrics boldMetrics(bold);
        EXPECT_GE(d.width(),
                  boldMetrics.horizontalAdvance(d.windowTitle()) + 5 * boldMetrics.height());
        // OK and Cancel stay on the screen (here 800 x 600) however tall or wide the columns.
        EXPECT_LE(d.height(), d.screen()->availableGeometry().height());
        EXPECT_LE(d.width(), d.screen()->availableGeometry().width());
        QList<QWidget*> controls = d.findChildren<QWidget*>();
        controls.removeIf([](const QWidget* w) {
            return !w->isVisible() || !(w->inherits("QAbstractButton") ||
                                        w->inherits("QLineEdit") || w->inherits("QScrollBar") ||
                                        w->inherits("QLabel") || w->inherits("QGroupBox"));
        });
        // What shows of each: the columns scroll on a screen too low for them.
        const auto rectOf = [&d](const QWidget* w) {
            const QRect shown = w->visibleRegion().boundingRect();
            return QRect(w->mapTo(&d, shown.topLeft()), shown.size());
        };
        for (qsizetype i = 0; i < controls.size(); ++i) {
            for (const QWidget* b : controls.sliced(i + 1)) {
                const QWidget* a = controls[i];
                if (!a->isAncestorOf(b) && !b->isAncestorOf(a)) {
                    EXPECT_FALSE(rectOf(a).intersects(rectOf(b)))
                        << a->objectName().toStdString() << " " << b->objectName().toStdString();
                }
            }
        }
        for (QWidget* w : controls) {
            const QFontMetrics metrics(w->font());
            QString text;
            int room = w->contentsRect().width();
            if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = text = button->text();
                const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
                room = w->style()
                           ->subElementRect(radio ? QStyle::SE_RadioButtonContents
                                                  : QStyle::SE_PushButtonContents,
                                            &option, w)
                           .width();
            } else if (auto* label = qobject_cast<QLabel*>(w)) {
                text = label->text();
            } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
                text = box->title();
                room = w->width();
            }
            EXPECT_LE(metrics.horizontalAdvance(text), room) << text.toStdString();
            if (qobject_cast<QLineEdit*>(w) || qobject_cast<QScrollBar*>(w)) {
                QAccessibleInterface* named = QAccessible::queryAccessibleInterface(w);
                ASSERT_NE(named, nullptr);
                EXPECT_FALSE(named->text(QAccessible::Name).isEmpty())
                    << w->objectName().toStdString();
            }
        }
    }
}

// On a 1366 x 768 laptop screen (the test's second run gives it one) every parameter dialog
// shows all its controls without scrolling, room left for a desktop panel and a title bar,
// also with every rate and a many-channel file's fields; a smaller screen scrolls them.
TEST(DialogTitles, EveryParameterDialogFitsALaptopScreenWithoutScrolling) {
    constexpr int kDesktopPanel = 48;
    constexpr int kTitleBar = 32;
    test::ScriptedPromptsScope prompts;
    AppSettings settings;
    settings.stereo = true;
    RunValues run = fileRun(44100, 0, 100000);
    run.fileChannels = 6;
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        run.offeredRates.push_back(c.hz);
    }
    for (const auto& [id, title] : {std::pair{DialogId::AnalyzeFile, "Analyze File"},
                                    {DialogId::ScanInput, "Scan Input"},
                                    {DialogId::ScanFile, "Scan File"},
                                    {DialogId::SpectrumPlot, "Spectrum Plot"}}) {
        SCOPED_TRACE(title);
        ParameterDialog d(id, settings, run);
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        EXPECT_EQ(d.windowTitle(), title);
        const QSize screen = d.screen()->size();
        auto* area = d.findChild<QScrollArea*>();
        ASSERT_NE(area, nullptr);
        const bool scrolled =
            area->verticalScrollBar()->isVisible() || area->horizontalScrollBar()->isVisible();
        if (screen.width() >= 1366 && screen.height() >= 768) {
            EXPECT_FALSE(scrolled);
            EXPECT_LE(d.height() + kTitleBar, 768 - kDesktopPanel);
            EXPECT_LE(d.width(), 1366);
        } else {
            EXPECT_LE(d.frameGeometry().bottom(), d.screen()->availableGeometry().bottom());
        }
    }
}

} // namespace
} // namespace korv
