// The one door for message boxes, questions and dialogs: the scripted prompts the program
// tests answer, and the desktop's own, driven as a user would drive them.

#include "app/support/platform_scopes.h"
#include "app/support/temp_dir.h"
#include "base/user_message.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace korv {
namespace {

constexpr const char* kWaveFilter = "Wave Files (*.wav);;All Files (*)";

FileRequest fileRequest(const QString& title, const QString& folder, const QString& filter,
                        const QString& suffix = {}) {
    return {title, folder, filter, {}, suffix};
}

// A dialog as the program builds them: controls named by their ids, OK and Cancel buttons.
class SampleDialog : public QDialog {
  public:
    SampleDialog() {
        setObjectName(QStringLiteral("dialog102"));
        auto* layout = new QVBoxLayout(this);
        edit = new QLineEdit(QStringLiteral("6000"), this);
        edit->setObjectName(controlName(1023));
        layout->addWidget(edit);
        auto* ok = new QPushButton(QStringLiteral("OK"), this);
        ok->setObjectName(controlName(kOkButtonId));
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
        cancel->setObjectName(controlName(kCancelButtonId));
        layout->addWidget(ok);
        layout->addWidget(cancel);
        connect(ok, &QPushButton::clicked, this, [this] {
            // The program's OK keeps the dialog open on a refused value.
            if (edit->text().toInt() > 0) {
                value = edit->text().toInt();
                accept();
            }
        });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
    QLineEdit* edit = nullptr;
    int value = 0;
};

TEST(ScriptedPrompts, RecordsMessagesAndAnswersFileDialogsInOrder) {
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
    EXPECT_TRUE(scripted->unscripted().isEmpty());
    ASSERT_EQ(scripted->fileRequests().size(), 4u);
    EXPECT_EQ(scripted->fileRequests()[0].filter, QStringLiteral("Wave Files (*.wav)"));

    // Nothing queued: Cancel, and the test can see that it was not expected.
    EXPECT_FALSE(prompts().saveFile(request).has_value());
    EXPECT_EQ(scripted->unscripted().size(), 1);
    EXPECT_EQ(scripted->pendingAnswers(), 0);

    // A long text behind a short message is recorded beside it.
    prompts().messageWithDetails("2 of 3", "a\nb", MessageIcon::Warning);
    EXPECT_EQ(scripted->messages().back().text, "2 of 3");
    EXPECT_EQ(scripted->messageDetails().back(), QStringLiteral("a\nb"));
    EXPECT_TRUE(scripted->messageDetails().front().isEmpty());
}

TEST(ScriptedPrompts, DialogScriptsDriveTheRealDialog) {
    test::ScriptedPromptsScope scripted;
    scripted->queueDialog([](QDialog& d) {
        d.findChild<QLineEdit*>(controlName(1023))->setText(QStringLiteral("8000"));
        ScriptedPrompts::pressOk(d);
    });
    scripted->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    // A refused value keeps the dialog open; the scripted prompts then reject it.
    scripted->queueDialog([](QDialog& d) {
        d.findChild<QLineEdit*>(controlName(1023))->setText(QStringLiteral("-1"));
        ScriptedPrompts::pressOk(d);
    });

    SampleDialog first;
    EXPECT_TRUE(prompts().runDialog(first));
    EXPECT_EQ(first.value, 8000);
    SampleDialog second;
    EXPECT_FALSE(prompts().runDialog(second));
    EXPECT_EQ(second.value, 0);
    SampleDialog third;
    EXPECT_FALSE(prompts().runDialog(third));
    EXPECT_FALSE(third.isVisible());
    EXPECT_EQ(scripted->dialogsRun(), (QStringList{"dialog102", "dialog102", "dialog102"}));
    ASSERT_EQ(scripted->unscripted().size(), 1);
    EXPECT_TRUE(scripted->unscripted().front().contains(QStringLiteral("left open")));

    SampleDialog unexpected;
    EXPECT_FALSE(prompts().runDialog(unexpected));
    EXPECT_EQ(scripted->unscripted().size(), 2);
}

// The desktop's file dialogs open where asked, with the filter asked for, and hand back the
// full path of what the user picked.
TEST(QtPrompts, FileDialogsOpenInTheFolderWithTheFilter) {
    setPrompts(nullptr);
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString wave = dir.write(QStringLiteral("tone.wav"), QByteArray(64, '\0'));
    ASSERT_FALSE(wave.isEmpty());
    const FileRequest request = fileRequest("Open Wave File", dir.path(), kWaveFilter);
    QString folder;
    QStringList filters;
    QString title;
    auto pick = [&](bool accept) {
        QTimer::singleShot(0, [&, accept] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            folder = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            title = dialog->windowTitle();
            if (accept) {
                dialog->selectFile(wave);
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
    };
    pick(true);
    EXPECT_EQ(prompts().openFile(request), wave);
    EXPECT_EQ(QDir(folder), QDir(dir.path()));
    EXPECT_EQ(filters, (QStringList{"Wave Files (*.wav)", "All Files (*)"}));
    EXPECT_EQ(title, QStringLiteral("Open Wave File"));

    pick(false);
    EXPECT_FALSE(prompts().openFile(request).has_value());

    pick(true);
    const auto many = prompts().openFiles(request);
    ASSERT_TRUE(many.has_value());
    EXPECT_EQ(*many, QStringList{wave});
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

// The desktop's save dialog, typed into as a user would: "take1" names take1.wav, which is
// asked about (caption the dialog's title); No returns to the dialog and leaves the file,
// Yes gives the final name.
TEST(QtPrompts, SaveDialogAsksAboutTheNameWithItsDefaultExtension) {
    setPrompts(nullptr);
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString old = dir.write(QStringLiteral("take1.wav"), "old");
    const FileRequest request = fileRequest("Record Wave File", dir.path(), kWaveFilter, "wav");
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
    {
        ModalSteps steps({typeName, answer(QMessageBox::No),
                          [](QWidget& w) { static_cast<QDialog&>(w).reject(); }});
        EXPECT_FALSE(prompts().saveFile(request).has_value());
        EXPECT_EQ(steps.done(), 3u);
    }
    EXPECT_EQ(question, QStringLiteral("take1.wav already exists.\nDo you want to replace it?"));
    EXPECT_EQ(caption, QStringLiteral("Record Wave File"));
    EXPECT_EQ(test::TempDir::read(old), QByteArray("old"));

    ModalSteps steps({typeName, answer(QMessageBox::Yes)});
    EXPECT_EQ(prompts().saveFile(request), old);
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
        QMessageBox::Icon shownIcon = QMessageBox::Question;
        QStringList shown;
        ModalSteps steps({[&](QWidget& w) {
            auto* box = qobject_cast<QMessageBox*>(&w);
            ASSERT_NE(box, nullptr);
            shown = {box->windowTitle(), box->text(), box->detailedText()};
            shownIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        }});
        if (details.isEmpty()) {
            showMessage(QStringLiteral("Improper Time Span"), icon);
        } else {
            prompts().messageWithDetails(QStringLiteral("Improper Time Span"), details, icon);
        }
        EXPECT_EQ(shown, (QStringList{QStringLiteral("Korvanthile"),
                                      QStringLiteral("Improper Time Span"), details}));
        EXPECT_EQ(shownIcon, expected);
    }
}

} // namespace
} // namespace korv
