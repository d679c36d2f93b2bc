// The real main window under the offscreen platform: menu, states, keys, command line,
// layout, scrolling and close, with the modes' commands recorded instead of run.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "app/sound_level_window.h"
#include "dialogs/control_ids.h"
#include "meter/levels.h"
#include "settings/settings_file.h"
#include "shell/modes.h"
#include "support/platform_scopes.h"
#include "support/prompt_checks.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace korv {
namespace {

using Call = std::pair<int, int>;

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowOptions options() const {
        MainWindowOptions o;
        o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
        o.helpFile = dir.file(QStringLiteral("Korv.html"));
        o.leftButtonDown = [this] { return leftDown; };
        return o;
    }

    // A shown window whose mode commands are recorded; startUp reads `arguments`.
    std::unique_ptr<MainWindow> open(const QStringList& arguments = {},
                                     std::optional<MainWindowOptions> o = std::nullopt) {
        auto w = std::make_unique<MainWindow>(o ? std::move(*o) : options());
        // Every command the menu offers is taken as built: the menu states are what is
        // tested here.
        for (const int id :
             {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kLogSpectrum, cmd::kLogPoints,
              cmd::kParametersChange, cmd::kParametersRestore, cmd::kScanFile, cmd::kScanInput,
              cmd::kSaveWave, cmd::kSaveWindowImage, cmd::kSaveEntireImage, cmd::kPrintWindow,
              cmd::kFreqMark, cmd::kStop, cmd::kSignalScale, cmd::kFreqCalibration, cmd::kPlay,
              cmd::kPlayWindow}) {
            w->registerCommand(id, [this, id](int param) { calls.emplace_back(id, param); });
        }
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        calls.clear(); // the first layout's STOP
        w->startUp(arguments);
        return w;
    }

    // Opens the window on `arguments` and expects the one command they start.
    std::unique_ptr<MainWindow> openCalling(const QStringList& arguments, Call call) {
        auto w = open(arguments);
        EXPECT_EQ(calls, std::vector<Call>{call}) << arguments.join(' ').toStdString();
        return w;
    }

    [[nodiscard]] bool called(int id, int param = 0) const {
        return std::find(calls.begin(), calls.end(), Call{id, param}) != calls.end();
    }

    // An image the view can hold: the top half one index, the bottom half another.
    static void holdImage(MainWindow& w, int width, int height, std::uint8_t top = 10,
                          std::uint8_t bottom = 20) {
        IndexedSurface image(width, height, bottom);
        image.fillRect({0, 0, width, height / 2}, top);
        w.state().held.spectralImage =
            CountedBlock<SpectralImage>(SpectralImage(std::move(image), height, 1, 1));
        w.state().analysis.run.params.columns = width; // analysed across the whole picture
    }

    test::TempDir dir;
    test::ScriptedPromptsScope prompts;
    std::vector<Call> calls;
    bool leftDown = false;
};

// A text as menu 146 gives it, without the mnemonics this program adds: "&Function" is
// "Function", but "&Change" and "&&" stand as they are.
QString withoutAddedMnemonic(const QString& text) {
    if (text == QStringLiteral("&Change") || text == QStringLiteral("&Restore")) {
        return text;
    }
    QString out = text;
    out.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    out.remove(QLatin1Char('&'));
    return out.replace(QStringLiteral("\x01"), QStringLiteral("&&"));
}

// Each entry of a menu or of the menu bar: the action's object name (its command id), "-" for a
// separator, or the submenu's title.
QStringList entries(const QWidget& menu) {
    QStringList out;
    for (const QAction* a : menu.actions()) {
        const QString text = withoutAddedMnemonic(a->text());
        out << (a->isSeparator() ? QStringLiteral("-")
                : a->menu()      ? text
                                 : a->objectName() + QLatin1Char(' ') + text);
    }
    return out;
}

const QMenu& topMenu(MainWindow& w, int index) {
    return *w.menuBar()->actions().at(index)->menu();
}

// Each of `ids` is enabled in the menu, or each is disabled.
void expectEnabled(ProgramMenu& m, bool enabled, std::initializer_list<int> ids) {
    for (const int id : ids) {
        EXPECT_EQ(m.enabled(id), enabled) << id;
    }
}

void press(MainWindow& w, std::initializer_list<Qt::Key> keys) {
    for (const Qt::Key key : keys) {
        QTest::keyClick(&w, key);
    }
}

TEST_F(MainWindowTest, MenuHasEveryPopupAndItemInOrderAndStartsWithTheInitialStates) {
    auto w = open();
    EXPECT_EQ(entries(*w->menuBar()),
              (QStringList{"Function", "View", "Variables", "Pointers", "Help"}));
    EXPECT_EQ(entries(topMenu(*w, 0)), (QStringList{"40020 F1 - Analyze File",
                                                    "40064 Analyze Batch",
                                                    "40028 Log Spectrum",
                                                    "40062 Log Points",
                                                    "Parameters",
                                                    "-",
                                                    "40007 F2 - Scan File",
                                                    "40011 F3 - Scan Input",
                                                    "-",
                                                    "40030 Save Wave",
                                                    "Save Image",
                                                    "40050 Print Window",
                                                    "-",
                                                    "40027 F4 - Signal Scale && Range",
                                                    "40054 F5 - Volume Control",
                                                    "40057 F6 - Freq Calibration",
                                                    "40071 F7 - Sound Level",
                                                    "40101 Calibrate...",
                                                    "-",
                                                    "Recent Files",
                                                    "-",
                                                    "40003 Exit"}));
    const QMenu& function = topMenu(*w, 0);
    EXPECT_EQ(entries(*function.actions().at(ProgramMenu::kParametersPopup)->menu()),
              (QStringList{"40005 &Change", "40023 &Restore"}));
    EXPECT_EQ(entries(*function.actions().at(ProgramMenu::kSaveImagePopup)->menu()),
              (QStringList{"40033 Window Image", "40034 Entire Image"}));
    EXPECT_EQ(
        entries(topMenu(*w, 1)),
        (QStringList{"40090 Go To Time...", "40091 Screen Back\tShift+PgUp",
                     "40092 Screen Forward\tShift+PgDown", "-", "40102 Narrow Band\tCtrl+Shift+Up",
                     "40103 Widen Band\tCtrl+Shift+Down", "-", "Time Expansion"}));
    EXPECT_EQ(entries(*topMenu(*w, 1).actions().at(7)->menu()),
              (QStringList{"40093 As Recorded", "40094 1/2 Speed", "40095 1/4 Speed",
                           "40096 1/8 Speed", "40097 1/10 Speed", "40098 1/16 Speed",
                           "40099 1/20 Speed", "40100 1/32 Speed"}));
    EXPECT_EQ(entries(topMenu(*w, 2)), (QStringList{"40055 Adjust", "40056 Freeze"}));
    EXPECT_EQ(entries(topMenu(*w, 3)), (QStringList{"40046 Target Box", "40047 White Cross",
                                                    "40048 Black Cross", "-", "40049 Freq Mark"}));
    EXPECT_EQ(entries(topMenu(*w, 4)),
              (QStringList{"40036 Help Topics", "-", "40024 About Korvanthile"}));
    // Starts with the initial menu and disabled buttons.
    EXPECT_EQ(w->windowTitle(), "Korvanthile");
    ProgramMenu& m = w->menu();
    expectEnabled(m, true,
                  {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kScanFile, cmd::kScanInput,
                   cmd::kSignalScale, cmd::kExit});
    expectEnabled(m, false,
                  {cmd::kParametersChange, cmd::kParametersRestore, cmd::kLogSpectrum,
                   cmd::kLogPoints, cmd::kSaveWave, cmd::kFreqMark, cmd::kPrintWindow,
                   cmd::kGoToTime, cmd::kScreenBack, cmd::kScreenForward, cmd::kNarrowBand,
                   cmd::kWidenBand});
    EXPECT_FALSE(m.popupEnabled(ProgramMenu::kParametersPopup));
    EXPECT_FALSE(m.popupEnabled(ProgramMenu::kSaveImagePopup));
    for (const auto& [id, text] : {std::pair{cmd::kPlay, "PLAY"},
                                   {cmd::kPlayWindow, "PLAY WDW"},
                                   {cmd::kStop, "STOP"},
                                   {cmd::kGrid, "GRID"},
                                   {cmd::kPeakHold, "PEAK HOLD"}}) {
        QPushButton* b = w->findChild<QPushButton*>(QString::number(id));
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->text(), text);
        EXPECT_FALSE(b->isEnabled());
        EXPECT_EQ(b->isCheckable(), id == cmd::kGrid || id == cmd::kPeakHold);
    }
    // Defaults: Adjust and the target box carry the checks.
    EXPECT_EQ(std::tuple(m.checked(cmd::kVariablesAdjust), m.checked(cmd::kVariablesFreeze),
                         m.checked(cmd::kPointerTargetBox)),
              std::tuple(true, false, true));
}

TEST_F(MainWindowTest, MenuStatesSetExactlyTheirItemsAndKeysBecomeCommandsUnderThem) {
    auto w = open();
    ProgramMenu& m = w->menu();
    menuStateRunning(*w);
    EXPECT_TRUE(w->state().control.modeRunning);
    EXPECT_FALSE(w->state().control.idleForKeys);
    expectEnabled(m, false,
                  {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kScanFile, cmd::kScanInput,
                   cmd::kSaveWave, cmd::kFreqCalibration, cmd::kExit, cmd::kPrintWindow});
    // Items the running state does not name keep theirs.
    expectEnabled(m, true, {cmd::kSignalScale, cmd::kVolumeControl});

    // An image wider than the view: Entire Image is offered.
    holdImage(*w, w->menu().function() ? w->state().view.layout.plotWidth + 50 : 0, 200);
    w->state().analysis.restorePossible = true;
    menuStateImage(*w);
    EXPECT_FALSE(w->state().control.modeRunning);
    EXPECT_TRUE(m.popupEnabled(ProgramMenu::kParametersPopup));
    // What an analysed file offers besides: AnalyzeFileTest.TheMenuOffersOnlyWhatIsBuilt...
    expectEnabled(m, true, {cmd::kParametersRestore, cmd::kSaveEntireImage, cmd::kExit});
    // Log Spectrum needs the linear scale; a fitting image offers no Entire Image.
    w->state().settings.frequencyScale = FrequencyScale::Log;
    holdImage(*w, w->state().view.layout.plotWidth, w->state().view.layout.plotHeight);
    menuStateImage(*w);
    expectEnabled(m, false, {cmd::kLogSpectrum, cmd::kSaveEntireImage});

    // Dual stereo leaves those items as they were.
    menuStateRunning(*w);
    w->state().settings.stereo = true;
    menuStateImage(*w);
    expectEnabled(m, false, {cmd::kLogPoints, cmd::kPrintWindow});

    // Idle with an image: print and the window image only; restore follows the scan flag.
    w->state().analysis.scanRestoreAvailable = true;
    menuStateIdle(*w);
    expectEnabled(m, true, {cmd::kPrintWindow, cmd::kSaveWindowImage, cmd::kParametersRestore});
    expectEnabled(m, false, {cmd::kSaveEntireImage, cmd::kParametersChange, cmd::kSaveWave});
    EXPECT_FALSE(w->button(cmd::kPlay)->isEnabled());
    EXPECT_TRUE(w->state().control.idleForKeys);

    // Keys become commands under their conditions.
    calls.clear();
    press(*w, {Qt::Key_F1, Qt::Key_F3, Qt::Key_F4, Qt::Key_F6});
    EXPECT_EQ(calls, (std::vector<Call>{{cmd::kAnalyzeFile, 0},
                                        {cmd::kScanInput, 0},
                                        {cmd::kSignalScale, 0},
                                        {cmd::kFreqCalibration, 0}}));
    calls.clear();
    menuStateRunning(*w);
    w->state().control.stopRequested = false;
    press(*w, {Qt::Key_F1, Qt::Key_F2, Qt::Key_F6, Qt::Key_Space}); // space: no input open
    EXPECT_TRUE(calls.empty());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_TRUE(w->state().control.stopRequested);
    QTest::keyClick(w.get(), Qt::Key_S);
    EXPECT_EQ(calls, (std::vector<Call>{{cmd::kStop, 0}, {cmd::kStop, 0}}));
    calls.clear();
    // Space while recording by hand: save, then stop saving.
    w->state().control.inputOpen = true;
    w->state().settings.recording = Recording::Choice::Manual;
    press(*w, {Qt::Key_Space});
    w->state().control.savingSamples = true;
    press(*w, {Qt::Key_Space});
    EXPECT_EQ(calls, (std::vector<Call>{{cmd::kPlay, 0}, {cmd::kPlayWindow, 0}}));
}

TEST_F(MainWindowTest, CommandLineModesBandsAndPlainFiles) {
    // The arguments come split: a name with blanks is one argument.
    const auto scan = openCalling({"3", "0", "5000", "10", "/data/My Files/a b.wav"},
                                  {cmd::kScanFile, cmd::kScanCurrentFile});
    const AppState& s = scan->state();
    EXPECT_EQ(s.control.fileNameBuffer, "/data/My Files/a b.wav");
    // {from the command line, run at once, seconds}
    EXPECT_EQ(
        std::tuple(s.control.fileFromCommandLine, s.control.autoRun, s.control.timeSpanSeconds),
        std::tuple(true, true, 10));
    // {mode, file mode, display, band}
    EXPECT_EQ(std::tuple(s.settings.lastMode, s.settings.lastFileMode, s.settings.displayType,
                         s.settings.lowBandHz, s.settings.highBandHz),
              std::tuple(3, 1, DisplayType::Scroll, 0, 5000));
    EXPECT_EQ(scan->windowTitle(), "Korvanthile a b.wav");

    // {band, display, from the command line}: the band's limits in either order.
    const auto input = openCalling({"1", "6000", "100", "5"}, {cmd::kScanInput, 0});
    const AppState& in = input->state();
    EXPECT_EQ(std::tuple(in.settings.lowBandHz, in.settings.highBandHz, in.settings.displayType,
                         in.control.fileFromCommandLine),
              std::tuple(100, 6000, DisplayType::Scroll, false));
    const auto plot = openCalling({"4", "100", "200", "3", dir.file("x.wav")},
                                  {cmd::kScanFile, cmd::kScanCurrentFile});
    EXPECT_EQ(plot->state().settings.displayType, DisplayType::LinePlot);
    const auto analyse = openCalling({"0", "0", "4000", "2", dir.file("x.wav")},
                                     {cmd::kAnalyzeFile, cmd::kFromCommandLine});
    EXPECT_EQ(
        std::tuple(analyse->state().settings.lastFileMode, analyse->state().control.fileNameBuffer),
        std::tuple(0, dir.file("x.wav").toStdString()));
    {
        // A name relative to the folder the program starts in still finds the file once
        // the file's folder has become the current one.
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sub")));
        ASSERT_FALSE(dir.write(QStringLiteral("sub/r.wav"), QByteArray(64, 0)).isEmpty());
        const QString before = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        auto w = open({"sub/r.wav"});
        const QString current = QDir::currentPath();
        const bool found =
            QFileInfo::exists(QString::fromStdString(w->state().control.fileNameBuffer));
        QDir::setCurrent(before);
        EXPECT_EQ(calls, (std::vector<Call>{{cmd::kAnalyzeFile, cmd::kFromCommandLine}}));
        EXPECT_EQ(QFileInfo(current).canonicalFilePath(),
                  QFileInfo(dir.file("sub")).canonicalFilePath());
        EXPECT_TRUE(found);
    }
    // Plain paths, analysed since the last file was analysed: blanks are part of the name,
    // and a name that begins with digits is a file, not a mode.
    for (const QString& name : {QStringLiteral("my tone.wav"), QStringLiteral("2024-01-05.wav"),
                                QStringLiteral("1tone.wav")}) {
        const std::int32_t lastMode = AppSettings{}.lastMode; // what each window starts from
        auto w = openCalling({dir.file(name)}, {cmd::kAnalyzeFile, cmd::kFromCommandLine});
        EXPECT_EQ(w->state().control.fileNameBuffer, dir.file(name).toStdString());
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Korvanthile ") + name);
        EXPECT_FALSE(w->state().control.autoRun);
        EXPECT_EQ(w->state().settings.lastMode, lastMode);
    }
    // The stored file mode says scan; an empty line with Scan Input last starts it.
    AppSettings stored;
    stored.lastFileMode = 1;
    stored.lastMode = 2;
    ASSERT_TRUE(saveSettings(options().settingsFile, stored, 0));
    openCalling({dir.file("c.wav")}, {cmd::kScanFile, cmd::kScanCurrentFile});
    openCalling({}, {cmd::kScanInput, 0});
}

// Without a file named for them, the settings are kept in the user's configuration folder, made
// at the first close; a close that cannot write them says so.
TEST_F(MainWindowTest, CloseWhileRunningOnlyStopsThenSavesTheSettingsInTheConfigFolder) {
    const QString config = dir.file(QStringLiteral("config"));
    ASSERT_TRUE(qputenv("XDG_CONFIG_HOME", config.toUtf8()));
    const QString ini = config + QStringLiteral("/korvanthile/korv.ini");
    MainWindowOptions o = options();
    o.settingsFile.clear();
    {
        auto w = open({}, o);
        EXPECT_EQ(w->settingsFile(), ini.toStdString());
        w->commands().send(cmd::kPointerWhiteCross);
        w->commands().send(cmd::kVariablesFreeze);
        w->commands().send(cmd::kFftSizeFirst + 3);
        // {FFT size, white cross, target box, freeze}
        EXPECT_EQ(std::tuple(w->state().analysis.fftSizeExponent,
                             w->menu().checked(cmd::kPointerWhiteCross),
                             w->menu().checked(cmd::kPointerTargetBox),
                             w->menu().checked(cmd::kVariablesFreeze)),
                  std::tuple(12, true, false, true));

        menuStateRunning(*w);
        EXPECT_FALSE(w->close());
        EXPECT_EQ(calls, (std::vector<Call>{{cmd::kStop, 0}}));
        EXPECT_FALSE(QFile::exists(ini));

        menuStateIdle(*w);
        EXPECT_TRUE(w->close());
        EXPECT_EQ(prompts->beeps(), 0);
    }
    EXPECT_TRUE(prompts->messages().empty());
    ASSERT_EQ(QFile(ini).size(), 948);
    auto w = open({}, o);
    // {pointer, FFT size, white cross, freeze, adjust}
    EXPECT_EQ(std::tuple(w->state().settings.pointerType, w->state().settings.fftSize(),
                         w->menu().checked(cmd::kPointerWhiteCross),
                         w->menu().checked(cmd::kVariablesFreeze),
                         w->menu().checked(cmd::kVariablesAdjust)),
              std::tuple(2, 4096, true, true, false));
    // The folder is taken by a file: nothing can be saved, and the user is told where. A close
    // with a block still held beeps.
    ASSERT_TRUE(QDir(config + QStringLiteral("/korvanthile")).removeRecursively());
    ASSERT_FALSE(dir.write(QStringLiteral("config/korvanthile"), "x").isEmpty());
    CountedBlock<int> leaked(1);
    EXPECT_TRUE(w->close());
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(prompts->beeps(), 1);
    EXPECT_EQ(prompts->messages().at(0).icon, MessageIcon::Warning);
    test::expectOneMessage(*prompts, "Cannot Save Settings\n" + ini.toStdString());
}

// korvanthile.conf beside korv.ini: a bad value is named at the start and its default used, a
// key this program does not know survives the close, and a close with nothing changed writes
// nothing.
TEST_F(MainWindowTest, PreferencesBesideTheSettingsAreReadCheckedAndWrittenBack) {
    const QString conf = dir.file(QStringLiteral("korvanthile.conf"));
    {
        auto w = open();
        EXPECT_TRUE(w->close());
        EXPECT_FALSE(QFile::exists(conf));
    }
    ASSERT_FALSE(dir.write(QStringLiteral("korvanthile.conf"),
                           "meter.weighting = Q\nmeter.time_weighting = S\nlater.key = 7\n")
                     .isEmpty());
    {
        auto w = open();
        test::expectOneMessage(*prompts, conf.toStdString() +
                                             ", line 1: \"meter.weighting = Q\" is not a "
                                             "weighting (A, C or Z); A is used");
        EXPECT_EQ(w->state().preferences.meterTimeWeighting, meter::TimeWeighting::S);
        rememberRecentFile(w->state().preferences, "/data/a.wav");
        EXPECT_TRUE(w->close());
    }
    const PreferencesRead read = readPreferences(conf.toStdString());
    EXPECT_TRUE(read.problems.empty());
    EXPECT_EQ(read.preferences.recentFiles, std::vector<std::string>{"/data/a.wav"});
    EXPECT_EQ(read.preferences.meterTimeWeighting, meter::TimeWeighting::S);
    EXPECT_EQ(read.preferences.otherKeys,
              (std::vector<std::pair<std::string, std::string>>{{"later.key", "7"}}));
}

// The first window follows the screen's rule (four fifths of its width, three quarters as
// tall) but never leaves its available area, frame included. Run also on a 1366 x 768 screen
// with window frames, where the rule alone would be 800 lines tall.
TEST_F(MainWindowTest, FirstWindowFitsTheScreen) {
    MainWindow w(options());
    installModes(w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    EXPECT_TRUE(area.contains(w.frameGeometry()))
        << w.frameGeometry().height() << " in " << area.height();
    const int ruleWidth = screen->geometry().width() * 800 / 1024;
    EXPECT_EQ(w.width(),
              std::min(ruleWidth, area.width() - (w.frameGeometry().width() - w.width())));
    // As tall as the rule says, or as the area holds with a title bar.
    EXPECT_LE(w.height(), w.width() * 3 / 4);
    EXPECT_GE(w.height(), std::min(w.width() * 3 / 4, area.height() - 48));
    // STOP, at the bottom of the panel, is on the screen.
    const QPushButton* stop = w.button(cmd::kStop);
    EXPECT_TRUE(area.contains(QRect(stop->mapToGlobal(QPoint(0, 0)), stop->size())));

    // The Sound Level window (F7) opens beside it where the screen is wide enough (a 1366
    // laptop's is, once the main window stands at the left edge), over part of it where not.
    QTest::keyClick(&w, Qt::Key_F7);
    SoundLevelWindow* meter = soundLevelWindow(&w);
    ASSERT_NE(meter, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(meter));
    EXPECT_TRUE(area.contains(meter->frameGeometry()));
    EXPECT_TRUE(area.contains(w.frameGeometry()));
    if (area.width() >= 1366) {
        EXPECT_FALSE(meter->frameGeometry().intersects(w.frameGeometry()));
    }
    // Its widest values (digital silence, "silence (below -200 dBFS)" in each) wrap inside it
    // rather than widen it past the screen's edge.
    SoundLevelReading silent;
    silent.source = QStringLiteral("Scan File: silence.wav");
    silent.seconds = 1.0;
    silent.levelNow = meter::kSilenceFloorDbFs;
    silent.leq = silent.lmax = silent.lmin = silent.lcpeak = meter::kSilenceFloorDbFs;
    const int width = meter->width();
    meter->showReading(silent);
    QCoreApplication::processEvents();
    EXPECT_EQ(meter->width(), width);
    EXPECT_TRUE(area.contains(meter->frameGeometry()));
}

TEST_F(MainWindowTest, HelpAboutAndVolumeControlOrItsAbsence) {
    MainWindowOptions o = options();
    QStringList opened;
    bool openerWorks = true;
    o.openHelp = [&opened, &openerWorks](const QString& file) {
        opened << file;
        return openerWorks;
    };
    o.volumeProgram = QStringLiteral("sleep");
    o.volumeArguments = {QStringLiteral("30")};
    auto w = open({}, o);

    // The message says where the manual was looked for.
    const std::string manual = dir.file(QStringLiteral("Korv.html")).toStdString();
    w->commands().send(cmd::kHelpTopics);
    EXPECT_EQ(prompts->messages().at(0).icon, MessageIcon::Warning);
    test::expectOneMessage(*prompts,
                           "Cannot Access Help\nThe manual Korv.html is not at " + manual);
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_FALSE(dir.write(QStringLiteral("Korv.html"), "<html></html>").isEmpty());
    w->commands().send(cmd::kHelpTopics);
    EXPECT_TRUE(prompts->messages().empty());
    EXPECT_EQ(opened, QStringList{dir.file(QStringLiteral("Korv.html"))});
    // No browser to open it with: the user is told where the file is, to open it by hand.
    openerWorks = false;
    w->commands().send(cmd::kHelpTopics);
    test::expectOneMessage(*prompts,
                           "Cannot Access Help\nOpen the manual in a web browser: " + manual);

    w->commands().send(cmd::kAbout);
    EXPECT_EQ(prompts->messages().at(0).icon, MessageIcon::None);
    test::expectOneMessage(*prompts, "Korvanthile Version 6.6");

    // F5 twice: the first volume control is ended and one new one runs.
    QTest::keyClick(w.get(), Qt::Key_F5);
    const qint64 first = w->volumeControlProcess();
    ASSERT_GT(first, 0);
    QTest::keyClick(w.get(), Qt::Key_F5);
    const qint64 second = w->volumeControlProcess();
    ASSERT_GT(second, 0);
    EXPECT_NE(first, second);
    EXPECT_TRUE(QTest::qWaitFor([first] { return ::kill(static_cast<pid_t>(first), 0) != 0; }));
    EXPECT_TRUE(prompts->messages().empty());
    ::kill(static_cast<pid_t>(second), SIGTERM);

    // A volume control that is not there: what was tried, and where it comes from.
    o.volumeProgram = dir.file(QStringLiteral("no-such-program"));
    w = open({}, o);
    w->commands().send(cmd::kVolumeControl);
    EXPECT_EQ(prompts->messages().at(0).icon, MessageIcon::None);
    test::expectOneMessage(*prompts, "Cannot locate volume control\nTried to start "
                                     "\"no-such-program\"; install it with: sudo apt install "
                                     "no-such-program");
    EXPECT_EQ(w->volumeControlProcess(), 0);
}

TEST_F(MainWindowTest, LayoutPlacesTheControlsAResizeRepeatsTheAnalysisAndTheBarsScroll) {
    auto w = open();
    for (const QSize size : {QSize(900, 700), QSize(640, 480)}) {
        w->resize(size);
        QCoreApplication::processEvents();
        const PlotLayout& l = w->state().view.layout;
        EXPECT_EQ(QSize(l.clientWidth, l.clientHeight), w->drawingArea()->size());
        EXPECT_EQ(w->horizontalBar()->geometry(),
                  QRect(0, l.plotHeight, l.plotWidth, l.scrollBarThickness));
        EXPECT_EQ(w->verticalBar()->geometry(),
                  QRect(l.plotWidth, 0, l.scrollBarThickness, l.plotHeight));
        const ButtonPlace& stop = l.buttons.stop;
        EXPECT_EQ(w->button(cmd::kStop)->geometry(),
                  QRect(stop.x, stop.y, stop.width, stop.height));
        // A resize stops whatever runs.
        EXPECT_TRUE(called(cmd::kStop, cmd::kStopFromResize));
    }
    // A screen reader names both bars.
    for (QScrollBar* bar : {w->horizontalBar(), w->verticalBar()}) {
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name).isEmpty());
    }

    // The analysis is repeated after a resize only once the frame is released.
    w->state().control.fileNameBuffer = dir.file(QStringLiteral("a.wav")).toStdString();
    holdImage(*w, 400, 300);
    leftDown = true;
    w->resize(w->width() + 20, w->height());
    QCoreApplication::processEvents();
    EXPECT_FALSE(called(cmd::kAnalyzeFile, cmd::kRepeatAfterResize));
    leftDown = false;
    w->resize(w->width() + 20, w->height());
    QCoreApplication::processEvents();
    EXPECT_TRUE(called(cmd::kAnalyzeFile, cmd::kRepeatAfterResize));

    // Restoring a minimised window does not stop a run.
    menuStateRunning(*w);
    calls.clear();
    w->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    w->setWindowState(Qt::WindowNoState);
    QCoreApplication::processEvents();
    EXPECT_FALSE(called(cmd::kStop, cmd::kStopFromResize));
    EXPECT_TRUE(w->state().control.modeRunning);
    menuStateIdle(*w);

    // The horizontal bar steps and clamps; the vertical one sets the level.
    const int plotWidth = w->state().view.layout.plotWidth;
    holdImage(*w, plotWidth + 1000, 300);
    w->computeLayout();
    QScrollBar* bar = w->horizontalBar();
    EXPECT_EQ(bar->maximum(), 1000);
    // From a position, a step of the bar, to where it lands (the far ends clamped).
    for (const auto& [from, action, to] : {std::tuple{0, QAbstractSlider::SliderPageStepAdd, 100},
                                           {100, QAbstractSlider::SliderSingleStepAdd, 104},
                                           {950, QAbstractSlider::SliderPageStepAdd, 1000},
                                           {2, QAbstractSlider::SliderSingleStepSub, 0}}) {
        w->state().view.scroll.h.pos = from;
        bar->triggerAction(action);
        EXPECT_EQ(w->state().view.scroll.h.pos, to) << from;
        EXPECT_EQ(bar->value(), to) << from;
    }
    // Ignored while a mode runs.
    menuStateRunning(*w);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(w->state().view.scroll.h.pos, 0);
    EXPECT_EQ(bar->value(), 0);
    menuStateIdle(*w);

    // The vertical bar sets the level for plots.
    w->state().settings.displayType = DisplayType::LinePlot;
    w->setVerticalRange(kLevelPositionMax, w->state().settings.verticalScrollPos);
    QScrollBar* level = w->verticalBar();
    EXPECT_EQ(level->value(), 6); // the default -9
    level->triggerAction(QAbstractSlider::SliderPageStepSub);
    level->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(w->state().settings.levelScaleCode, -15);
    for (int i = 0; i < 8; ++i) {
        level->triggerAction(QAbstractSlider::SliderPageStepAdd);
    }
    EXPECT_EQ(w->state().settings.levelScaleCode, 15);
    EXPECT_EQ(w->state().settings.verticalScrollPos, 30);
    // The spectral display with a 512-point FFT does not scroll its rows.
    w->state().settings.displayType = DisplayType::Scroll;
    w->state().view.scroll.rowMax = 300;
    w->setVerticalRange(300, 0);
    w->commands().send(cmd::kFftSizeFirst);
    level->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(w->state().view.scroll.rowPos, 0);
    w->commands().send(cmd::kFftSizeFirst + 1);
    level->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(w->state().view.scroll.rowPos, 100);
}

TEST_F(MainWindowTest, ViewShowsTheChannelOfEachLayout) {
    auto w = open();
    const PlotLayout& l = w->state().view.layout;
    const auto colour = [&](int index) {
        return w->surface().palette().colour(static_cast<std::uint8_t>(index)) & 0xFFFFFFU;
    };
    // Top half (right channel) index 10, bottom half (left channel) index 20.
    holdImage(*w, l.plotWidth * 2, l.plotHeight * 2);
    AppSettings& st = w->state().settings;
    auto at = [&](int x) { return *w->surface().pixel(x, 5) & 0xFFFFFFU; };

    // Mono and the left and right channels of stereo fill the view with their half.
    for (const auto& [stereo, channel, index] : {std::tuple{false, StereoChannel::Dual, 10},
                                                 {true, StereoChannel::Left, 20},
                                                 {true, StereoChannel::Right, 10}}) {
        st.stereo = stereo;
        st.channel = channel;
        w->blitView();
        EXPECT_EQ(at(5), colour(index)) << stereo << " " << static_cast<int>(channel);
    }
    st.channel = StereoChannel::Dual;
    w->surface().fillRect(w->surface().bounds(), 30);
    w->blitView();
    EXPECT_EQ(at(l.plotWidth / 2 - 4), colour(20));
    EXPECT_EQ(at(l.plotWidth / 2 + 4), colour(10));
    // The separator between the panes is not drawn over by either pane.
    EXPECT_EQ(at(l.plotWidth / 2), colour(30));
    // No image: the background.
    w->state().held.spectralImage.reset();
    w->blitView();
    EXPECT_EQ(at(5), colour(kBackgroundIndex));
}

} // namespace
} // namespace korv
