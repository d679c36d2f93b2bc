// Files the way the desktop hands them over, and the keyboard: a file dropped on the window,
// the Recent Files list, several files on the command line, the menu's mnemonics, and the
// channel choice of a file of more than two channels. The real window offscreen, real files
// in a temporary folder.

#include "app/current_view.h"
#include "display/info_panel.h"
#include "support/analyze_fixture.h"
#include "support/dialog_controls.h"
#include "support/prompt_checks.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>

namespace korv {
namespace {

using namespace test;

// A menu or item text as shown: "&&" is an ampersand, a single '&' marks the mnemonic.
QString shown(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

class DesktopFilesTest : public AnalyzeFileTest {
  protected:
    // `files` dropped on the window as a file manager drops them; whether it was taken.
    bool drop(const QStringList& files) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& f : files) {
            urls << (f.startsWith(QStringLiteral("http")) ? QUrl(f) : QUrl::fromLocalFile(f));
        }
        data.setUrls(urls);
        const QPointF at(100, 100);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window.get(), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window.get(), &dropped);
        QCoreApplication::processEvents(); // the file is opened after the drop
        return dropped.isAccepted();
    }
    // The Recent Files items as "Function" shows them when it opens (Alt+F).
    QList<QAction*> recentItems() {
        QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
        QMenu* function = window->menu().function();
        EXPECT_TRUE(function->isVisible());
        QList<QAction*> items = window->menu().recentFiles()->actions();
        function->hide();
        return items;
    }
    double peakHz() {
        return settings().lowBandHz + (brightestRow(40, image().height()) + 0.5) *
                                          (settings().highBandHz - settings().lowBandHz) / rows();
    }
};

TEST_F(DesktopFilesTest, ADroppedFileIsAnalysedOrScannedAsTheLastFileWas) {
    settings().lowBandHz = 0;
    settings().highBandHz = kRate / 2;
    const QString file = tone(QStringLiteral("dropped.wav"), kRate, 2500.0);
    // A web address is no file to open: the drag is refused.
    EXPECT_FALSE(drop({QStringLiteral("https://example.org/a.wav")}));
    EXPECT_FALSE(window->state().held.spectralImage);

    ASSERT_TRUE(drop({file}));
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(QString::fromStdString(run().file), file);
    EXPECT_NEAR(peakHz(), 2500.0, 3 * kRate / 2.0 / rows());
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("dropped.wav")));
    EXPECT_TRUE(prompts->fileRequests().empty()); // no open dialog
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(plays, 0) << "only a file named on the command line is played once analysed";

    // After a scan, a dropped file is scanned: Scan File takes it without asking.
    std::vector<std::pair<int, std::string>> scans;
    window->registerCommand(cmd::kScanFile, [&](int param) {
        scans.emplace_back(param, window->state().control.fileNameBuffer);
        window->state().control.fileFromCommandLine = false;
    });
    settings().lastFileMode = 1;
    const QString other = tone(QStringLiteral("other.wav"), kRate, 1000.0);
    ASSERT_TRUE(drop({other}));
    ASSERT_EQ(scans.size(), 1u);
    EXPECT_EQ(scans[0], std::pair(cmd::kScanCurrentFile, other.toStdString()));
}

TEST_F(DesktopFilesTest, RecentFilesListsTheLastTenNewestFirstGreysAMissingOneAndOpensOne) {
    EXPECT_FALSE(window->menu().recentFiles()->menuAction()->isEnabled()); // none yet
    settings().lowBandHz = 0;
    settings().highBandHz = kRate / 2;
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files << tone(QStringLiteral("f%1.wav").arg(i), kRate / 2, 500.0 + 300.0 * i);
        ASSERT_TRUE(analyzed(files.back()));
    }
    ASSERT_EQ(state().preferences.recentFiles.size(), 10u);
    ASSERT_TRUE(QFile::remove(files[7]));
    const QList<QAction*> items = recentItems();
    ASSERT_EQ(items.size(), 10);
    for (int k = 0; k < 10; ++k) {
        const QString& file = files[11 - k];
        EXPECT_EQ(shown(items[k]->text()), QStringLiteral("%1 %2").arg(k + 1).arg(file));
        EXPECT_EQ(items[k]->isEnabled(), k != 4) << k; // f7.wav is gone
    }
    EXPECT_EQ(items[9]->text().left(3), QStringLiteral("1&0")); // each has its key

    // Choosing one analyses it with the parameters in force, and puts it first.
    items[6]->trigger(); // f5.wav
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(QString::fromStdString(run().file), files[5]);
    EXPECT_NEAR(peakHz(), 500.0 + 300.0 * 5, 3 * kRate / 2.0 / rows());
    EXPECT_EQ(QString::fromStdString(state().preferences.recentFiles.front()), files[5]);
    EXPECT_EQ(state().preferences.recentFiles.size(), 10u);
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(plays, 0);
}

// The desktop entry hands over every file selected: the first is analysed, the others wait
// under Recent Files in the order given.
TEST(DesktopEntryTest, SeveralFilesOnTheCommandLineOpenTheFirstAndListTheOthers) {
    TempDir dir;
    ScriptedPromptsScope prompts;
    QStringList files;
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) {
        files << dir.write(QString::fromLatin1(name),
                           waveFile(kRate, 1, 16, kRate, sines({1000.0}, kRate)));
    }
    MainWindowOptions o;
    o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    auto window = openWindow(o, files);
    ASSERT_TRUE(window->state().held.spectralImage);
    EXPECT_EQ(QString::fromStdString(window->state().analysis.run.file), files[0]);
    QStringList recent;
    for (const std::string& f : window->state().preferences.recentFiles) {
        recent << QString::fromStdString(f);
    }
    EXPECT_EQ(recent, files);
}

// Alt and the underlined letter open each popup; inside, the letters reach every item.
TEST_F(DesktopFilesTest, MenuMnemonicsOpenThePopupsAndReachEveryItem) {
    const QList<QAction*> popups = window->menuBar()->actions();
    const QString letters = QStringLiteral("FWVPH");
    ASSERT_EQ(popups.size(), letters.size());
    for (qsizetype i = 0; i < popups.size(); ++i) {
        QTest::keyClick(window.get(), Qt::Key(letters[i].unicode()), Qt::AltModifier);
        QMenu* opened = popups[i]->menu();
        EXPECT_TRUE(opened->isVisible()) << letters[i].toLatin1();
        EXPECT_EQ(QApplication::activePopupWidget(), opened);
        opened->hide();
    }
    // Each item of each popup has a mnemonic of its own within its popup.
    const auto check = [](const QMenu& menu, const auto& self) -> void {
        QStringList keys;
        for (const QAction* a : menu.actions()) {
            if (a->isSeparator()) {
                continue;
            }
            const QKeySequence key = QKeySequence::mnemonic(a->text());
            EXPECT_FALSE(key.isEmpty()) << a->text().toStdString();
            EXPECT_FALSE(keys.contains(key.toString())) << a->text().toStdString();
            keys << key.toString();
            if (a->menu() != nullptr) {
                self(*a->menu(), self);
            }
        }
    };
    for (const QAction* p : popups) {
        check(*p->menu(), check);
    }
    // Alt+F, then S: Scan File's mnemonic runs its command.
    int scans = 0;
    window->registerCommand(cmd::kScanFile, [&](int) { ++scans; });
    QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(window->menu().function(), Qt::Key_S);
    EXPECT_EQ(scans, 1);
    EXPECT_FALSE(window->menu().function()->isVisible());
}

// The buttons' keys act as clicks while a button is enabled: W plays the window, G turns the
// grid on; H does nothing while PEAK HOLD is disabled.
TEST_F(DesktopFilesTest, ButtonKeysClickTheEnabledButtons) {
    int windowPlays = 0;
    window->registerCommand(cmd::kPlayWindow, [&](int) { ++windowPlays; });
    analyze(tone(QStringLiteral("keys.wav"), kRate * 2));
    ASSERT_TRUE(window->button(cmd::kPlayWindow)->isEnabled());
    ASSERT_FALSE(window->button(cmd::kPeakHold)->isEnabled());
    const bool grid = state().view.gridOn;
    QTest::keyClick(window.get(), Qt::Key_W);
    QTest::keyClick(window.get(), Qt::Key_G);
    QTest::keyClick(window.get(), Qt::Key_H);
    EXPECT_EQ(windowPlays, 1);
    EXPECT_EQ(state().view.gridOn, !grid);
    EXPECT_FALSE(window->button(cmd::kPeakHold)->isChecked());
}

// A file of six channels, a tone of its own in each (written by sox, as the field's files
// are): the dialog chooses channel 5 and the panel names the file's six.
TEST_F(DesktopFilesTest, ChannelFiveOfASixChannelFileIsAnalysedAndNamed) {
    const QString six = dir.file(QStringLiteral("six.wav"));
    QStringList synth{
        QStringLiteral("-n"),    QStringLiteral("-r"), QString::number(kRate), QStringLiteral("-c"),
        QStringLiteral("6"),     QStringLiteral("-b"), QStringLiteral("16"),   six,
        QStringLiteral("synth"), QStringLiteral("1")};
    for (int k = 1; k <= 6; ++k) {
        synth << QStringLiteral("sine") << QString::number(600 * k);
    }
    QProcess sox;
    sox.start(QStringLiteral("sox"), synth);
    ASSERT_TRUE(sox.waitForFinished()) << "sox (scripts/install-deps) is needed";
    ASSERT_EQ(sox.exitCode(), 0) << sox.readAllStandardError().toStdString();

    settings().variables = Variables::Adjust;
    settings().lowBandHz = 0;
    settings().highBandHz = kRate / 2;
    prompts->queueDialog([](QDialog& d) {
        typeInto(d, ID_FIRST_CHANNEL_EDIT, QStringLiteral("5"));
        radio(d, CHANNEL_LEFT)->click();
        ScriptedPrompts::pressOk(d);
    });
    ASSERT_TRUE(analyzed(six));
    EXPECT_EQ(run().info.fileChannels, 6);
    EXPECT_NEAR(peakHz(), 3000.0, 3 * kRate / 2.0 / rows());
    const ViewDrawing panel =
        infoPanel(currentViewGeometry(state()), currentInfoPanelInputs(state()));
    EXPECT_TRUE(
        std::ranges::any_of(panel.texts, [](const auto& t) { return t.text == "Channel 5 of 6"; }));
    EXPECT_TRUE(prompts->messages().empty());
}

} // namespace
} // namespace korv
