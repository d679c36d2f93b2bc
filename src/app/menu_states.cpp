#include "app/menu_states.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"

#include <QAction>
#include <QPushButton>

namespace korv {

namespace {

void enableAll(ProgramMenu& menu, std::initializer_list<int> ids, bool on) {
    for (const int id : ids) {
        menu.enable(id, on);
    }
}

// 40028 logs the image's columns or the plotted spectrum, as the display type says.
void nameLogCommand(ProgramMenu& menu, const AppSettings& settings) {
    if (QAction* a = menu.action(cmd::kLogSpectrum)) {
        a->setText(settings.displayType == DisplayType::Scroll ? QStringLiteral("&Log Data")
                                                               : QStringLiteral("&Log Spectrum"));
    }
}

// STOP and PEAK HOLD off, PEAK HOLD released; the mode is over and F1 to F3 work again.
void endRunning(MainWindow& window) {
    AppState& s = window.state();
    window.button(cmd::kStop)->setEnabled(false);
    QPushButton* peak = window.button(cmd::kPeakHold);
    peak->setEnabled(false);
    peak->setChecked(false);
    s.control.modeRunning = false;
    s.control.idleForKeys = true;
    window.setFocus();
}

} // namespace

void menuStateRunning(MainWindow& window) {
    ProgramMenu& m = window.menu();
    enableAll(m,
              {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kParametersChange,
               cmd::kParametersRestore, cmd::kLogSpectrum, cmd::kLogPoints, cmd::kScanFile,
               cmd::kScanInput, cmd::kSaveWave, cmd::kFreqCalibration, cmd::kCalibrateInput,
               cmd::kExit, cmd::kPrintWindow, cmd::kGoToTime, cmd::kScreenBack, cmd::kScreenForward,
               cmd::kNarrowBand, cmd::kWidenBand},
              false);
    m.enablePopup(ProgramMenu::kParametersPopup, false);
    m.enablePopup(ProgramMenu::kSaveImagePopup, false);
    AppState& s = window.state();
    s.control.modeRunning = true;
    s.control.idleForKeys = false;
}

void menuStateIdle(MainWindow& window) {
    ProgramMenu& m = window.menu();
    const AppState& s = window.state();
    enableAll(m,
              {cmd::kAnalyzeFile, cmd::kAnalyzeBatch, cmd::kScanFile, cmd::kScanInput,
               cmd::kFreqCalibration, cmd::kCalibrateInput, cmd::kExit},
              true);
    m.enablePopup(ProgramMenu::kParametersPopup, s.analysis.scanRestoreAvailable);
    m.enable(cmd::kParametersChange, false);
    m.enable(cmd::kParametersRestore, s.analysis.scanRestoreAvailable);
    m.enable(cmd::kLogSpectrum, s.logs.logDataAvailable);
    nameLogCommand(m, s.settings);
    enableAll(m,
              {cmd::kLogPoints, cmd::kSaveWave, cmd::kGoToTime, cmd::kScreenBack,
               cmd::kScreenForward, cmd::kNarrowBand, cmd::kWidenBand},
              false);
    const bool image = s.held.spectralImage || s.view.plotImage;
    m.enable(cmd::kPrintWindow, image);
    m.enablePopup(ProgramMenu::kSaveImagePopup, image);
    m.enable(cmd::kSaveWindowImage, image);
    m.enable(cmd::kSaveEntireImage, false);
    m.check(cmd::kVariablesAdjust, s.settings.variables == Variables::Adjust);
    m.check(cmd::kVariablesFreeze, s.settings.variables == Variables::Freeze);
    for (const int id : {cmd::kPlay, cmd::kPlayWindow}) {
        window.button(id)->setEnabled(false);
    }
    endRunning(window);
}

void menuStateImage(MainWindow& window) {
    ProgramMenu& m = window.menu();
    const AppState& s = window.state();
    const AppSettings& st = s.settings;
    enableAll(m, {cmd::kAnalyzeFile, cmd::kAnalyzeBatch}, true);
    nameLogCommand(m, st);
    if (st.displayType == DisplayType::Scroll) {
        m.enablePopup(ProgramMenu::kParametersPopup, true);
        m.enable(cmd::kParametersChange, true);
        m.enable(cmd::kParametersRestore, s.analysis.restorePossible);
    }
    // Calibrate records from the input or opens a recording: the analysed image does not
    // stand in its way.
    enableAll(m, {cmd::kScanFile, cmd::kScanInput, cmd::kSaveWave, cmd::kCalibrateInput}, true);
    const bool stereo = st.stereo;
    if (!stereo || st.channel != StereoChannel::Dual) {
        m.enable(cmd::kLogSpectrum, st.frequencyScale == FrequencyScale::Linear);
        enableAll(
            m, {cmd::kLogPoints, cmd::kFreqCalibration, cmd::kSaveWindowImage, cmd::kPrintWindow},
            true);
        m.enablePopup(ProgramMenu::kSaveImagePopup, true);
        bool larger = false;
        if (s.held.spectralImage) {
            const PlotLayout& l = s.view.layout;
            const int height =
                stereo ? s.held.spectralImage->height() / 2 : s.held.spectralImage->height();
            // The picture is at least screen-wide; what counts is the analysed columns.
            larger = analysedColumns(s) > l.plotWidth || height > l.plotHeight;
        }
        m.enable(cmd::kSaveEntireImage, larger);
    }
    if (st.displayType == DisplayType::LinePlot) {
        m.enable(cmd::kPrintWindow, true);
    }
    m.enable(cmd::kExit, true);
    // The analysed image, wider than the view, can be moved through.
    enableAll(m, {cmd::kGoToTime, cmd::kScreenBack, cmd::kScreenForward},
              st.displayType == DisplayType::Scroll && s.held.spectralImage &&
                  s.view.scroll.h.scrollable && !s.view.scrollMemoryShown);
    // The analysed image, which Parameters Change analyses again in another band.
    enableAll(m, {cmd::kNarrowBand, cmd::kWidenBand},
              st.displayType == DisplayType::Scroll && s.held.spectralImage.held());
    endRunning(window);
}

} // namespace korv
