#include "app/current_view.h"

#include "app/app_state.h"
#include "display/readouts.h"
#include "settings/settings_inputs.h"

namespace korv {

bool spectralDisplay(const AppSettings& settings) {
    return settings.displayType == DisplayType::Scroll;
}

namespace {

DisplayChannels displayChannels(const AppSettings& settings) {
    if (!settings.stereo) {
        return DisplayChannels::Mono;
    }
    if (settings.channel == StereoChannel::Left) {
        return DisplayChannels::Left;
    }
    if (settings.channel == StereoChannel::Right) {
        return DisplayChannels::Right;
    }
    return DisplayChannels::Dual;
}

} // namespace

ViewGeometry currentViewGeometry(const AppState& s) {
    const PlotLayout& l = s.view.layout;
    ViewGeometry g;
    g.plotWidth = l.plotWidth;
    g.plotHeight = l.plotHeight;
    g.stripHeight = s.held.spectralImage ? s.held.spectralImage->stripHeight() : l.topBand;
    g.charWidth = l.charWidth;
    g.charHeight = l.charHeight;
    g.infoPanel = l.infoPanel;
    g.readoutBox = l.readoutBox;
    g.infoValueOffset = l.infoValueOffset;
    g.readoutValueOffset = l.readoutValueOffset;
    g.dualStereo = spectralDisplay(s.settings) && dualStereoView(s.settings);
    g.hScrollPos = s.view.scroll.h.pos;
    g.timeScaleMsec = s.settings.timeScaleMsec;
    g.columnMsec = s.analysis.run.params.columnMsec;
    g.segmentOffsetMsec = segmentOffsetMsec(s.analysis.run);
    g.windowCentreMsec = s.analysis.run.params.windowCentreMsec;
    if (s.held.segmentHeld()) {
        g.recordingMsec = s.analysis.run.format.bytesMsec(s.analysis.run.info.dataLength);
    }
    g.lowBandHz = s.settings.lowBandHz;
    g.highBandHz = s.settings.highBandHz;
    g.frequencyScale = s.settings.frequencyScale;
    g.sampleRate = s.analysis.sampleRateHz;
    g.fftSize = s.analysis.run.params.fftSize;
    return g;
}

PictureScales currentPictureScales(const AppState& s) {
    PictureScales scales;
    // The running picture's times move on; its frequencies and levels stay.
    scales.times = !s.view.scanDrawing;
    scales.crosses = s.view.gridOn && scales.times;
    scales.range = levelRangeFor(s.settings.dbRange);
    // The window's level scale; a calibrated input would name dB SPL and its offset here.
    scales.legend = LegendScale{};
    return scales;
}

InfoPanelInputs currentInfoPanelInputs(const AppState& s) {
    InfoPanelInputs in;
    in.lowBandHz = s.settings.lowBandHz;
    in.highBandHz = s.settings.highBandHz;
    in.channels = displayChannels(s.settings);
    in.sampleRate = s.analysis.sampleRateHz;
    // The file's own bytes, however the samples are held.
    in.segmentBytes = s.held.segmentHeld()
                          ? encodedBytes(s.analysis.run.info.encoding, s.analysis.run.segmentBytes)
                          : 0;
    if (s.control.inputOpen) {
        in.recordedLength = true;
        in.segmentBytes = s.control.recordedBytes;
        in.recordedFrameBytes = s.analysis.run.bytesPerFrame();
    }
    // Whenever the run's picture is shown: also while a file is scanned, and after.
    const bool runShown = s.held.segmentHeld() || s.control.modeRunning || s.held.spectralImage ||
                          s.view.runningScrollImage || s.view.plotImage;
    if (runShown) {
        const WaveFileInfo& info = s.analysis.run.info;
        in.fileChannels = info.fileChannels;
        in.firstChannel = info.firstChannel + 1;
        in.secondChannel = info.secondChannel + 1;
    }
    if (s.held.segmentHeld() && s.analysis.run.info.recorded) {
        in.recordingTime =
            recordingTimeText(*s.analysis.run.info.recorded, s.analysis.run.info.sampleRate);
    }
    if (s.held.segmentHeld() && !s.analysis.run.info.formatText.empty()) {
        in.sourceFormat = s.analysis.run.info.formatText;
    } else if (s.held.segmentHeld() && encodingConverted(s.analysis.run.info.encoding)) {
        in.sourceFormat = encodingText(s.analysis.run.info.encoding);
    }
    return in;
}

} // namespace korv
