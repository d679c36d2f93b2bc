#include "app/main_window.h"

#include "analysis/frequency_scale.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/command_line.h"
#include "app/desktop_files.h"
#include "app/menu_states.h"
#include "app/panel_font.h"
#include "app/pointer_shapes.h"
#include "app/time_expansion.h"
#include "platform/commands.h"
#include "platform/fonts.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "platform/slider_actions.h"
#include "settings/settings_file.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <filesystem>
#include <ranges>

#include <csignal>
#include <cstdlib>
#include <sys/types.h>

namespace korv {

namespace {

constexpr const char* kTitle = "Korvanthile";
constexpr const char* kVersionText = "Korvanthile Version 6.6";

QRect screenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
}

} // namespace

MainWindow::MainWindow(MainWindowOptions options)
    : options_(std::move(options)), state_(std::make_unique<AppState>()),
      surface_(state_->view.display) {
    AppState& s = state();
    if (options_.settingsFile.empty()) {
        options_.settingsFile = settingsPath(QCoreApplication::applicationFilePath().toStdString());
    }
    if (options_.helpFile.isEmpty()) {
        options_.helpFile = defaultManualPath();
    }
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(programIcon());
    setFocusPolicy(Qt::StrongFocus);

    menu_ = std::make_unique<ProgramMenu>(*menuBar(), [this](int id) { queue_.send(id); });

    placeFirstWindow(style()->pixelMetric(QStyle::PM_TitleBarHeight));

    createControls();
    createDrawingObjects();
    setInitialMenuState();

    showActivePalette(s.view);
    surface_.setPaintHandler([this](WindowSurface& target) { paint(target); });
    queue_.setHandler([this](int id, int param) { dispatch(id, param); });

    s.control.modeRunning = false;
    s.control.created = true;
    s.control.idleForKeys = true;
}

MainWindow::~MainWindow() {
    queue_.setHandler({});
    releaseAll();
}

// Width from the screen, height three quarters of it, centred; but never more than the
// screen's available area (a panel or task bar takes part of it) holds with the frame: on a
// 1366 x 768 laptop the rule alone gives 800 lines, and STOP would lie below the edge.
void MainWindow::placeFirstWindow(int frameHeight, int frameWidth) {
    const QRect screen = screenGeometry();
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect area = primary != nullptr ? primary->availableGeometry() : screen;
    const int width = std::min(screen.width() * 800 / 1024, area.width() - frameWidth);
    const int height = std::min(width * 3 / 4, area.height() - frameHeight);
    resize(width, height);
    placedSize_ = size();
    move(std::max(area.x(), area.x() + (area.width() - width - frameWidth) / 2),
         std::max(area.y(), area.y() + (area.height() - height - frameHeight) / 2));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) {
        return;
    }
    shownOnce_ = true;
    // Now the frame is known: place the window again if it does not fit (unless it was
    // given a size of its own since).
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary != nullptr && size() == placedSize_ &&
        !primary->availableGeometry().contains(frameGeometry())) {
        placeFirstWindow(frameGeometry().height() - geometry().height(),
                         frameGeometry().width() - geometry().width());
    }
}

void MainWindow::createControls() {
    view_ = new SurfaceWidget(surface_, this);
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setMouseTracking(true);
    view_->installEventFilter(this);
    setCentralWidget(view_);

    hBar_ = new QScrollBar(Qt::Horizontal, view_);
    vBar_ = new QScrollBar(Qt::Vertical, view_);
    for (QScrollBar* bar : {hBar_, vBar_}) {
        bar->setFocusPolicy(Qt::NoFocus);
        bar->setRange(0, 0);
        bar->setValue(0);
    }
    connect(hBar_, &QScrollBar::actionTriggered, this, &MainWindow::onHorizontalAction);
    // The wheel over the picture and over its bar scrolls in time.
    hBar_->installEventFilter(this);
    hBar_->setAccessibleName(QStringLiteral("Time"));
    vBar_->setAccessibleName(QStringLiteral("Frequency / Level"));
    connect(vBar_, &QScrollBar::actionTriggered, this, &MainWindow::onVerticalAction);

    const std::pair<int, const char*> buttons[] = {{cmd::kPlay, "PLAY"},
                                                   {cmd::kPlayWindow, "PLAY WDW"},
                                                   {cmd::kStop, "STOP"},
                                                   {cmd::kGrid, "GRID"},
                                                   {cmd::kPeakHold, "PEAK HOLD"}};
    for (const auto& [id, text] : buttons) {
        auto* b = new QPushButton(QString::fromLatin1(text), view_);
        b->setObjectName(controlName(id));
        b->setFocusPolicy(Qt::NoFocus);
        b->setEnabled(false);
        const int commandId = id;
        if (id == cmd::kGrid || id == cmd::kPeakHold) {
            // Push-like check boxes: they act on their state, however it was set (a click, a
            // screen reader's toggle). The program's own resets of the state are no command:
            // GRID's follows gridOn, and PEAK HOLD is disabled first.
            b->setCheckable(true);
            connect(b, &QPushButton::toggled, this, [this, b, commandId](bool on) {
                const bool wanted =
                    commandId == cmd::kGrid ? on != state().view.gridOn : b->isEnabled();
                if (wanted) {
                    queue_.send(commandId, 0);
                }
            });
        } else {
            connect(b, &QPushButton::clicked, this,
                    [this, commandId] { queue_.send(commandId, 0); });
        }
        buttons_[id] = b;
    }
}

void MainWindow::createDrawingObjects() {
    AppState& s = state();
    // The pointer marks: a cross in Text (A) or Background (B) on Signal 2.
    for (IndexedSurface* mark : {&s.view.pointerMarkA, &s.view.pointerMarkB}) {
        *mark = IndexedSurface(16, 16, kSignal2Index);
        const std::uint8_t cross = mark == &s.view.pointerMarkA ? kTextIndex : kBackgroundIndex;
        for (int i = 0; i <= 10; ++i) {
            mark->setPixel(5, i, cross);
            mark->setPixel(i, 5, cross);
        }
    }
    // The position strip: the left four columns Signal 1, the right four Background.
    const int stripHeight = screenGeometry().height();
    s.view.positionStrip = IndexedSurface(8, stripHeight, kBackgroundIndex);
    s.view.positionStrip.fillRect({0, 0, 4, stripHeight}, kSignal1Index);
    (void)thirdOctaveEdges(); // the band table, built once for the run
}

void MainWindow::setInitialMenuState() {
    for (const int id : {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kScanFile, cmd::kScanInput,
                         cmd::kSignalScale, cmd::kExit}) {
        menu_->enable(id, true);
    }
    menu_->enablePopup(ProgramMenu::kParametersPopup, false);
    menu_->enablePopup(ProgramMenu::kSaveImagePopup, false);
    for (const int id :
         {cmd::kParametersChange, cmd::kParametersRestore, cmd::kLogSpectrum, cmd::kLogPoints,
          cmd::kSaveWave, cmd::kFreqMark, cmd::kPrintWindow, cmd::kGoToTime, cmd::kScreenBack,
          cmd::kScreenForward, cmd::kNarrowBand, cmd::kWidenBand}) {
        menu_->enable(id, false);
    }
}

QPushButton* MainWindow::button(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void MainWindow::registerCommand(int id, CommandAction action) {
    commands_[id] = std::move(action);
}

bool MainWindow::commandBuilt(int id) const {
    switch (id) {
    case cmd::kExit:
    case cmd::kVariablesAdjust:
    case cmd::kVariablesFreeze:
    case cmd::kPointerTargetBox:
    case cmd::kPointerWhiteCross:
    case cmd::kPointerBlackCross:
    case cmd::kVolumeControl:
    case cmd::kHelpTopics:
    case cmd::kAbout:
        return true;
    default:
        return commands_.contains(id);
    }
}

qint64 MainWindow::volumeControlProcess() const {
    if (volumeControlPid_ <= 0 || ::kill(static_cast<pid_t>(volumeControlPid_), 0) != 0) {
        return 0;
    }
    return volumeControlPid_;
}

// ---------------------------------------------------------------------------------------------
// Start-up

void MainWindow::startUp(const std::vector<std::string>& arguments) {
    AppState& s = state();
    // What is not built yet is offered disabled, never as an item that does nothing.
    menu_->setBuilt([this](int id) { return commandBuilt(id); });
    loadSettings(options_.settingsFile, s.settings, s.view.activePalette);
    loadPreferences();
    showTimeExpansion(*this);
    s.settings.verticalScrollPos = levelBarPosition(s.settings.levelScaleCode);
    showActivePalette(s.view);
    showVariables();
    applyPointerShape();
    surface_.invalidate();
    applyStartCommandLine(arguments);
}

// A bad value is replaced by its default and the user told which, once, at the start.
void MainWindow::loadPreferences() {
    AppState& s = state();
    PreferencesRead read = readPreferences(preferencesPathBeside(options_.settingsFile));
    s.preferences = std::move(read.preferences);
    s.preferencesAsRead = s.preferences;
    if (!read.problems.empty()) {
        QStringList lines;
        for (const std::string& problem : read.problems) {
            lines << QString::fromStdString(problem);
        }
        prompts().message(lines.join(QLatin1Char('\n')), MessageIcon::Warning);
    }
}

void MainWindow::startUp(const QStringList& arguments) {
    std::vector<std::string> bytes;
    for (const QString& a : arguments) {
        bytes.push_back(fileNameBytes(a));
    }
    startUp(bytes);
}

void MainWindow::applyStartCommandLine(const std::vector<std::string>& arguments) {
    AppState& s = state();
    const CommandLine parsed = parseCommandLine(arguments);
    const CommandLineEffects effects = applyCommandLine(parsed, s.settings);
    if (parsed.kind == CommandLine::Kind::ModeRun) {
        s.control.timeSpanSeconds = parsed.timeSpanSeconds;
    }
    s.control.autoRun = effects.autoRun;
    s.control.notesSuppressed = s.control.notesSuppressed || effects.autoRun;
    if (effects.fileFromCommandLine) {
        nameFileAsFromCommandLine(*this, parsed.fileName);
    }
    // The desktop hands over every file selected: the first is opened, the others wait under
    // Recent Files, in the order given.
    for (const std::string& file : parsed.moreFiles | std::views::reverse) {
        rememberOpenedFile(s, file);
    }
    if (effects.start) {
        queue_.send(effects.start->id, effects.start->param);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void MainWindow::dispatch(int id, int param) {
    AppState& s = state();
    switch (id) {
    case cmd::kExit:
        close();
        return;
    case cmd::kVariablesAdjust:
    case cmd::kVariablesFreeze:
        chooseVariables(id);
        return;
    case cmd::kPointerTargetBox:
    case cmd::kPointerWhiteCross:
    case cmd::kPointerBlackCross:
        choosePointer(id - cmd::kPointerTargetBox + 1);
        return;
    case cmd::kVolumeControl:
        startVolumeControl();
        return;
    case cmd::kHelpTopics:
        openHelpTopics();
        return;
    case cmd::kAbout:
        prompts().about(QStringLiteral("About Korvanthile 6.6"), QString::fromLatin1(kVersionText));
        return;
    case cmd::kStop:
        // A STOP always asks the running loop to end; the mode that owns the loop also
        // registers for the id to do its own part.
        s.control.stopRequested = true;
        s.control.batchStopRequested = s.control.batchRunning && param != cmd::kStopFromResize;
        break;
    case cmd::kGrid:
        s.view.gridOn = !s.view.gridOn;
        buttons_.at(cmd::kGrid)->setChecked(s.view.gridOn);
        surface_.invalidate();
        break;
    default:
        if (id >= cmd::kFftSizeFirst && id <= cmd::kFftSizeLast) {
            setFftSize(id - cmd::kFftSizeFirst);
            return;
        }
        break;
    }
    const auto it = commands_.find(id);
    if (it != commands_.end()) {
        it->second(param);
    }
}

void MainWindow::setFftSize(int k) {
    AppState& s = state();
    s.analysis.fftSizeExponent = 9 + k;
    s.settings.log2FftSize = MIN_LOG2_FFT_SIZE + k;
    s.analysis.fftAbove512 = k != 0;
}

void MainWindow::chooseVariables(int id) {
    state().settings.variables =
        id == cmd::kVariablesFreeze ? Variables::Freeze : Variables::Adjust;
    showVariables();
}

void MainWindow::showVariables() {
    const bool freeze = state().settings.variables == Variables::Freeze;
    menu_->check(cmd::kVariablesAdjust, !freeze);
    menu_->check(cmd::kVariablesFreeze, freeze);
}

void MainWindow::choosePointer(int type) {
    state().settings.pointerType = type;
    applyPointerShape();
}

void MainWindow::applyPointerShape() {
    const int type = state().settings.pointerType;
    const int ids[] = {cmd::kPointerTargetBox, cmd::kPointerWhiteCross, cmd::kPointerBlackCross};
    for (int i = 0; i < 3; ++i) {
        menu_->check(ids[i], type == i + 1);
    }
    if (type >= 1 && type <= 3) {
        view_->setCursor(pointerShape(static_cast<PointerShape>(type)));
    }
}

// ---------------------------------------------------------------------------------------------
// Close

void MainWindow::closeEvent(QCloseEvent* event) {
    AppState& s = state();
    if (s.control.modeRunning) {
        // A running mode is only stopped and the window stays; a live input is stopped, its
        // recording finished, and then the window closes.
        s.control.closeAfterRun = s.control.inputOpen;
        queue_.send(cmd::kStop, 0);
        event->ignore();
        return;
    }
    if (closing_) {
        event->accept();
        return;
    }
    closing_ = true;
    s.control.stopRequested = true;
    if (soundShutdown_) {
        soundShutdown_();
    }
    queue_.drain();
    // The band asked for is kept, not the cut a file's rate made to it.
    AppSettings stored = s.settings;
    stored.highBandHz = askedHighBand(stored.highBandHz, s.analysis.highBand);
    // Otherwise every choice would be lost at each start without a word; both files are in
    // one folder, so a failure of the first is said once.
    std::string unsaved;
    if (!saveSettings(options_.settingsFile, stored, s.analysis.sampleRateHz)) {
        unsaved = options_.settingsFile;
    } else if (s.preferences != s.preferencesAsRead) {
        const std::string path = preferencesPathBeside(options_.settingsFile);
        if (!writePreferences(path, s.preferences).empty()) {
            unsaved = path;
        }
    }
    if (!unsaved.empty()) {
        prompts().message(
            QStringLiteral("Cannot Save Settings\n%1").arg(QString::fromStdString(unsaved)),
            MessageIcon::Warning);
    }
    releaseAll();
    if (openAllocations() != 0) {
        prompts().beep();
    }
    event->accept();
}

void MainWindow::releaseAll() {
    AppState& s = state();
    if (releaseHook_) {
        releaseHook_();
    }
    s.held.spectralImage.reset();
    s.view.runningScrollImage.reset();
    s.view.plotImage.reset();
    s.held.samples.reset();
    s.held.fileSegment.reset();
}

// ---------------------------------------------------------------------------------------------
// Layout

QFont MainWindow::controlFont() const {
    if (controlFont_) {
        return *controlFont_;
    }
    return programFont(controlFontHeight(screenGeometry().height(), logicalDpiY()));
}

void MainWindow::computeLayout() {
    AppState& s = state();
    if (!s.control.created || view_ == nullptr) {
        return;
    }
    if (s.view.modeHoldsSurfaces) {
        s.view.layoutPending = true;
        return;
    }
    const QRect screen = screenGeometry();
    // The screen's font, or a smaller one where the panel's texts would not fit the width.
    controlFont_ = fittedControlFont(screen.height(), logicalDpiY(), view_->width());
    const QFontMetrics metrics(*controlFont_);
    LayoutInputs in;
    in.clientWidth = view_->width();
    in.clientHeight = view_->height();
    in.windowWidth = frameGeometry().width();
    in.windowHeight = frameGeometry().height();
    in.screenHeight = screen.height();
    in.captionHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    in.charWidth = averageCharWidth(*controlFont_);
    in.charHeight = metrics.height();
    in.text = measurePanelTexts(*controlFont_);
    const PlotLayout& l = s.view.layout = computePlotLayout(in);

    hBar_->setGeometry(0, l.plotHeight, std::max(0, l.plotWidth), l.scrollBarThickness);
    vBar_->setGeometry(l.plotWidth, 0, l.scrollBarThickness, std::max(0, l.plotHeight));
    const std::pair<int, ButtonPlace> places[] = {{cmd::kPlay, l.buttons.play},
                                                  {cmd::kPlayWindow, l.buttons.playWindow},
                                                  {cmd::kGrid, l.buttons.grid},
                                                  {cmd::kPeakHold, l.buttons.peakHold},
                                                  {cmd::kStop, l.buttons.stop}};
    for (const auto& [id, place] : places) {
        QPushButton* b = buttons_.at(id);
        b->setFont(controlFont());
        b->setGeometry(place.x, place.y, place.width, place.height);
    }

    // The range covers the analysed columns, not the blank rest of the picture.
    s.view.scroll.h = computeHScroll(analysedColumns(s), l.plotWidth, dualStereoView(s.settings),
                                     s.view.scroll.h, s.view.drawingColumn, s.view.analysisDrawing);
    hBar_->setRange(0, s.view.scroll.h.max);
    // The thumb's length is the visible share of the image.
    hBar_->setPageStep(std::max(1, dualStereoView(s.settings) ? l.plotWidth / 2 - 3 : l.plotWidth));
    hBar_->setValue(s.view.scroll.h.pos);
}

void MainWindow::showFileInTitle(const QString& path) {
    const QString title = QString::fromLatin1(kTitle);
    const std::string& note = state().control.titleNote;
    setWindowTitle(
        (path.isEmpty() ? title : title + QStringLiteral(" ") + QFileInfo(path).fileName()) +
        (note.empty() ? QString() : QStringLiteral(" - ") + QString::fromStdString(note)));
}

void MainWindow::updatePlayButton() {
    const AppState& s = state();
    const int visible = visibleImageColumns(s.view.layout.plotWidth, dualStereoView(s.settings));
    const bool on = !s.view.scrollMemoryShown && s.held.spectralImage && !s.view.analysisDrawing &&
                    !s.view.playbackActive && analysedColumns(s) > visible;
    buttons_.at(cmd::kPlay)->setEnabled(on);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::Resize && !minimised_) {
        onResize();
    }
    if ((watched == view_ || watched == hBar_) && event->type() == QEvent::Wheel) {
        onWheel(*static_cast<QWheelEvent*>(event));
        return true;
    }
    if (watched == view_ && mouseHandler_ && mouseHandler_(event)) {
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const bool nowMinimised = isMinimized();
        if (minimised_ && !nowMinimised) {
            minimised_ = false;
            onRestore();
        } else if (nowMinimised) {
            minimised_ = true;
        }
    }
    QMainWindow::changeEvent(event);
}

void MainWindow::onRestore() {
    computeLayout();
    updatePlayButton();
    surface_.invalidate();
}

void MainWindow::onResize() {
    AppState& s = state();
    if (!s.control.created) {
        return;
    }
    queue_.send(cmd::kStop, cmd::kStopFromResize);
    computeLayout();
    if (!s.view.modeHoldsSurfaces) {
        const QRect screen = screenGeometry();
        const PixelRect area{0, 0, screen.width(), screen.height()};
        if (s.held.spectralImage) {
            s.held.spectralImage->surface().fillRect(area, kBackgroundIndex);
        }
        if (s.view.plotImage) {
            s.view.plotImage->fillRect(area, kBackgroundIndex);
        }
        surface_.fillRect(area, kBackgroundIndex);
    }
    updatePlayButton();
    if (!s.view.modeHoldsSurfaces) {
        if (s.settings.lastFileMode == 0 && !s.control.fileNameBuffer.empty() &&
            s.held.spectralImage) {
            const bool dragging = options_.leftButtonDown
                                      ? options_.leftButtonDown()
                                      : (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0;
            if (!dragging) {
                s.view.dragFillDone = false;
                queue_.post(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
            } else if (!s.view.dragFillDone) {
                s.view.dragFillDone = true;
                s.held.spectralImage->surface().fill(kBackgroundIndex);
            }
        } else if (s.settings.lastFileMode == 1) {
            s.held.spectralImage.reset();
            s.view.runningScrollImage.reset();
            s.view.scrollMemoryShown = false;
            s.view.plotImage.reset();
            s.held.samples.reset();
            s.held.fileSegment.reset();
            if (releaseHook_) {
                releaseHook_();
            }
            s.logs.logDataAvailable = false;
            s.analysis.scanRestoreAvailable = false;
            menuStateIdle(*this);
        }
    }
    surface_.invalidate();
    setFocus();
}

} // namespace korv
