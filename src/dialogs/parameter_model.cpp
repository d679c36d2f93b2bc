#include "dialogs/parameter_model.h"

#include "analysis/parameters.h"
#include "dialogs/control_ids.h"
#include "dialogs/radio_groups.h"
#include "display/plot_layout.h"
#include "settings/settings_inputs.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

namespace korv {

using namespace radio_groups;

namespace {
int bytesPerSampleFor(std::int32_t resolutionChoice) {
    return resolutionChoice == RESOLUTION_8_BIT ? 1 : 2;
}

std::string numberText(std::int64_t value) {
    return std::to_string(value);
}

std::int32_t digitsToInt32(const std::string& text) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(parseDigits(text), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

ParameterDialogModel::ParameterDialogModel(DialogId dialog, AppSettings& settings, RunValues& run)
    : dialog_(dialog), settings_(settings), run_(run), work_(settings), runWork_(run) {
    switch (dialog_) {
    case DialogId::AnalyzeFile:
        useAnalyzeFileScale(work_);
        settings_.averageCountScroll = work_.averageCountScroll = 1;
        if (run_.scanFinished) {
            work_.timeScaleMsec = 10.0f;
            run_.scanFinished = runWork_.scanFinished = false;
        }
        break;
    case DialogId::ScanInput:
        work_.sampleRateChoice =
            offeredSampleRateChoice(work_.sampleRateChoice, runWork_.offeredRates);
        if (work_.plotTypeChoice == PLOT_LR_DELTA) {
            work_.typeChoice = TYPE_STEREO;
            work_.channelChoice = CHANNEL_DUAL;
        }
        break;
    case DialogId::ScanFile:
        if (runWork_.pointMode && work_.displayTypeChoice == DISPLAY_SCROLL) {
            work_.displayTypeChoice = DISPLAY_LINE_PLOT;
        }
        break;
    case DialogId::SpectrumPlot:
        // This dialog offers only the two plots.
        if (work_.displayTypeChoice != DISPLAY_BAR_PLOT) {
            work_.displayTypeChoice = DISPLAY_LINE_PLOT;
        }
        break;
    }
    if (isScanDialog() && work_.displayTypeChoice == DISPLAY_SCROLL &&
        work_.freqScaleChoice == FREQ_SCALE_THIRD_OCTAVE) {
        work_.freqScaleChoice = FREQ_SCALE_LOG;
    }
    openingRate_ = sampleRate();
    openingBytesPerSample_ = bytesPerSampleFor(work_.resolutionChoice);
    rateText_ = numberText(sampleRate());
    beginText_ = numberText(runWork_.beginMsec);
    endText_ = numberText(runWork_.endMsec);
    timeScaleText_ = formatTimeScale(work_.timeScaleMsec);
    cursorOffsetText_ = numberText(work_.cursorOffsetHz);
    firstChannelText_ = numberText(fileChannelsOf(work_).first);
    secondChannelText_ = numberText(fileChannelsOf(work_).second);
    normalise();
}

std::string ParameterDialogModel::title() const {
    switch (dialog_) {
    case DialogId::AnalyzeFile:
        return runWork_.opening == AnalyzeOpening::AnalyzeFile ? "Analyze File"
                                                               : "Modify Analysis Parameters";
    case DialogId::ScanInput:
        return "Scan Input";
    case DialogId::ScanFile:
        return "Scan File";
    case DialogId::SpectrumPlot:
        return "Spectrum Plot";
    }
    return "";
}

bool ParameterDialogModel::isScanDialog() const {
    return dialog_ == DialogId::ScanInput || dialog_ == DialogId::ScanFile;
}

bool ParameterDialogModel::hasBeginEnd() const {
    return dialog_ == DialogId::AnalyzeFile || dialog_ == DialogId::ScanFile;
}

int ParameterDialogModel::highBandScrollId() const {
    return dialog_ == DialogId::ScanInput ? ID_HIGH_BAND_SCROLL_INPUT : ID_HIGH_BAND_SCROLL;
}

bool ParameterDialogModel::hasControl(int id) const {
    const bool spectrumPlot = dialog_ == DialogId::SpectrumPlot;
    // Shared by all four dialogs.
    if (isChannelRadio(id) || isFftRadio(id) || isPaletteRadio(id) || isDbRadio(id) ||
        id == FREQ_SCALE_LINEAR || id == FREQ_SCALE_LOG ||
        isOneOf(id, {ID_OK, ID_CANCEL, ID_RESOLUTION_SCROLL, ID_RESOLUTION_EDIT, ID_LOW_BAND_SCROLL,
                     ID_LOW_BAND_EDIT, ID_HIGH_BAND_EDIT, ID_AVERAGE_SCROLL, ID_AVERAGE_EDIT,
                     ID_TIME_SCALE_EDIT, ID_CURSOR_OFFSET_EDIT})) {
        return true;
    }
    if (id == highBandScrollId()) {
        return true;
    }
    if (id == FREQ_SCALE_THIRD_OCTAVE) {
        return dialog_ != DialogId::AnalyzeFile;
    }
    if (id == ID_RESET) {
        return !spectrumPlot;
    }
    if (isDisplayRadio(id)) {
        return isScanDialog() || (spectrumPlot && id != DISPLAY_SCROLL);
    }
    if (isResolutionRadio(id) || isTypeRadio(id)) {
        return !spectrumPlot;
    }
    if (isPlotRadio(id) || isScrollMemRadio(id) || isPitchRadio(id)) {
        return isScanDialog();
    }
    if (isOneOf(id, {ID_RATE_EDIT, ID_BEGIN_EDIT, ID_END_EDIT, ID_NEW_RATE})) {
        return hasBeginEnd();
    }
    if (isAnalysisAtStopRadio(id)) {
        return dialog_ == DialogId::ScanFile;
    }
    if (isStepMaxRadio(id)) {
        return dialog_ == DialogId::AnalyzeFile || dialog_ == DialogId::ScanFile ||
               dialog_ == DialogId::ScanInput;
    }
    if (id == ID_FIRST_CHANNEL_EDIT || id == ID_SECOND_CHANNEL_EDIT) {
        return (dialog_ == DialogId::AnalyzeFile || dialog_ == DialogId::ScanFile) &&
               runWork_.fileChannels > 2;
    }
    if (isSampleRateRadio(id)) {
        return dialog_ == DialogId::ScanInput &&
               offeredSampleRateChoice(id, runWork_.offeredRates) == id;
    }
    if (isRecordingRadio(id) || isOneOf(id, {ID_TRIGGER_SCROLL, ID_TRIGGER_EDIT})) {
        return dialog_ == DialogId::ScanInput;
    }
    return false;
}

std::int32_t ParameterDialogModel::sampleRate() const {
    if (dialog_ == DialogId::ScanInput) {
        return sampleRateForChoice(work_.sampleRateChoice);
    }
    return runWork_.sampleRateHz;
}

int ParameterDialogModel::fftSize() const {
    return fftSizeFromChoice(work_.fftSizeChoice);
}

double ParameterDialogModel::resolutionHz() const {
    return freqResolutionHz(sampleRate(), fftSize(), work_.resolutionFactor);
}

bool ParameterDialogModel::peakDeltaAllowed() const {
    return work_.displayTypeChoice == DISPLAY_LINE_PLOT &&
           (!stereo() || work_.channelChoice != CHANNEL_DUAL);
}

bool ParameterDialogModel::lrDeltaAllowed() const {
    return work_.displayTypeChoice == DISPLAY_LINE_PLOT && stereo() &&
           work_.channelChoice == CHANNEL_DUAL;
}

// Analyze File averages only with the scroll display's count.
std::int32_t& ParameterDialogModel::averageCount() {
    const bool scroll =
        dialog_ == DialogId::AnalyzeFile || work_.displayTypeChoice == DISPLAY_SCROLL;
    return scroll ? work_.averageCountScroll : work_.averageCountPlot;
}

std::int32_t ParameterDialogModel::averageCount() const {
    return const_cast<ParameterDialogModel*>(this)->averageCount();
}

// The average counts are written through at once: Cancel keeps them.
void ParameterDialogModel::setAverageCount(std::int32_t count) {
    averageCount() = count;
    settings_.averageCountScroll = work_.averageCountScroll;
    settings_.averageCountPlot = work_.averageCountPlot;
}

void ParameterDialogModel::setBothAverageCounts(std::int32_t scroll, std::int32_t plot) {
    settings_.averageCountScroll = work_.averageCountScroll = scroll;
    settings_.averageCountPlot = work_.averageCountPlot = plot;
}

void ParameterDialogModel::chooseLinear() {
    work_.freqScaleChoice = FREQ_SCALE_LINEAR;
    work_.lowBandHz = 0;
    work_.highBandHz = std::min(work_.highBandHz, sampleRate() / 2);
}

void ParameterDialogModel::chooseLog() {
    work_.freqScaleChoice = FREQ_SCALE_LOG;
    work_.fftSizeChoice = LOG_SCALE_FFT_SIZE_CHOICE;
    work_.lowBandHz = LOG_SCALE_FORCED_LOW_HZ;
    work_.highBandHz = sampleRate() / 2;
}

// The same bytes read as samples of another size or channel count.
void ParameterDialogModel::scaleBeginEnd(int multiply, int divide) {
    if (!hasBeginEnd()) {
        return;
    }
    beginText_ = numberText(parseDigits(beginText_) * multiply / divide);
    endText_ = numberText(parseDigits(endText_) * multiply / divide);
}

void ParameterDialogModel::chooseRadio(int id) {
    typed_.clear();
    if (!hasControl(id) || !enabled(id)) {
        return;
    }
    if (isSampleRateRadio(id)) {
        work_.sampleRateChoice = id;
    } else if (isResolutionRadio(id)) {
        if (id != work_.resolutionChoice) {
            id == RESOLUTION_8_BIT ? scaleBeginEnd(2, 1) : scaleBeginEnd(1, 2);
        }
        work_.resolutionChoice = id;
    } else if (isTypeRadio(id)) {
        if (id != work_.typeChoice) {
            id == TYPE_MONO ? scaleBeginEnd(2, 1) : scaleBeginEnd(1, 2);
        }
        work_.typeChoice = id;
    } else if (isChannelRadio(id)) {
        work_.channelChoice = id;
    } else if (isFftRadio(id)) {
        work_.fftSizeChoice = id;
    } else if (id == FREQ_SCALE_LINEAR) {
        chooseLinear();
    } else if (id == FREQ_SCALE_LOG) {
        chooseLog();
    } else if (id == FREQ_SCALE_THIRD_OCTAVE) {
        work_.freqScaleChoice = id;
    } else if (isPaletteRadio(id)) {
        work_.paletteChoice = id;
    } else if (isDbRadio(id)) {
        work_.dbScaleChoice = id;
        if (dialog_ != DialogId::SpectrumPlot) {
            work_.levelScaleCode = levelScaleCodeFor(id);
        }
    } else if (isDisplayRadio(id)) {
        work_.displayTypeChoice = id;
        if (id == DISPLAY_SCROLL && work_.freqScaleChoice == FREQ_SCALE_THIRD_OCTAVE) {
            chooseLinear();
            work_.highBandHz = sampleRate() / 2;
        }
    } else if (isPlotRadio(id)) {
        work_.plotTypeChoice = id;
    } else if (isScrollMemRadio(id)) {
        work_.scrollMemChoice = id;
    } else if (isPitchRadio(id)) {
        work_.pitchDetectorChoice = id;
    } else if (isAnalysisAtStopRadio(id)) {
        work_.analysisAtStopChoice = id;
    } else if (isStepMaxRadio(id)) {
        setMaxOverStep(work_, id == STEP_MAX_ON);
    } else if (isRecordingRadio(id)) {
        work_.recordingChoice = id;
    }
    normalise();
}

void ParameterDialogModel::scroll(int scrollBarId, ScrollAction action, int thumbPosition) {
    typed_.clear();
    if (!hasControl(scrollBarId) || !enabled(scrollBarId)) {
        return;
    }
    const bool linear = work_.freqScaleChoice == FREQ_SCALE_LINEAR;
    const bool log = work_.freqScaleChoice == FREQ_SCALE_LOG;
    if (scrollBarId == ID_RESOLUTION_SCROLL) {
        work_.resolutionFactor = stepScroll(work_.resolutionFactor, action, thumbPosition,
                                            RESOLUTION_FACTOR_RANGE, 1, 10, 1);
    } else if (scrollBarId == ID_LOW_BAND_SCROLL) {
        work_.lowBandHz = stepBandLimit(work_.lowBandHz, action, thumbPosition,
                                        scrollRange(scrollBarId), BandLimit::Low, log);
        if (linear && work_.highBandHz < work_.lowBandHz) {
            work_.highBandHz = work_.lowBandHz;
        }
    } else if (scrollBarId == highBandScrollId()) {
        work_.highBandHz = stepBandLimit(work_.highBandHz, action, thumbPosition,
                                         scrollRange(scrollBarId), BandLimit::High, log);
        if (linear && work_.lowBandHz > work_.highBandHz) {
            work_.lowBandHz = work_.highBandHz;
        }
    } else if (scrollBarId == ID_AVERAGE_SCROLL) {
        setAverageCount(
            stepScroll(averageCount(), action, thumbPosition, AVERAGE_COUNT_RANGE, 1, 10, 1));
    } else if (scrollBarId == ID_TRIGGER_SCROLL) {
        runWork_.triggerLevel = stepScroll(runWork_.triggerLevel, action, thumbPosition,
                                           TRIGGER_LEVEL_RANGE, 10, 100, 10);
    }
    normalise();
}

void ParameterDialogModel::editText(int editId, const std::string& text) {
    if (!hasControl(editId) || !enabled(editId)) {
        return;
    }
    switch (editId) {
    case ID_RATE_EDIT:
        rateText_ = text.substr(0, RATE_EDIT_MAX_CHARS);
        break;
    case ID_BEGIN_EDIT:
        beginText_ = text.substr(0, MSEC_EDIT_MAX_CHARS);
        break;
    case ID_END_EDIT:
        endText_ = text.substr(0, MSEC_EDIT_MAX_CHARS);
        break;
    case ID_TIME_SCALE_EDIT:
        timeScaleText_ = text;
        break;
    case ID_CURSOR_OFFSET_EDIT:
        cursorOffsetText_ = text;
        break;
    case ID_FIRST_CHANNEL_EDIT:
        firstChannelText_ = text.substr(0, CHANNEL_EDIT_MAX_CHARS);
        break;
    case ID_SECOND_CHANNEL_EDIT:
        secondChannelText_ = text.substr(0, CHANNEL_EDIT_MAX_CHARS);
        break;
    default:
        break;
    }
}

void ParameterDialogModel::pressNew() {
    typed_.clear();
    if (!hasControl(ID_NEW_RATE)) {
        return;
    }
    if (!enteringRate_) {
        rememberedRate_ = runWork_.sampleRateHz;
        rateText_.clear();
        enteringRate_ = true;
        return;
    }
    finishRateChange();
}

void ParameterDialogModel::finishRateChange() {
    const std::int32_t newRate = acceptedNewRate(digitsToInt32(rateText_), rememberedRate_);
    const std::int64_t begin = parseDigits(beginText_);
    const std::int64_t end = parseDigits(endText_);
    beginText_ = numberText(rescaleMsec(begin, rememberedRate_, newRate));
    endText_ = numberText(rescaleMsec(end, rememberedRate_, newRate));
    runWork_.sampleRateHz = newRate;
    rateText_ = numberText(newRate);
    enteringRate_ = false;
    normalise();
}

void ParameterDialogModel::reset() {
    typed_.clear();
    if (!hasControl(ID_RESET)) {
        return;
    }
    const std::int32_t half = sampleRate() / 2;
    work_.fftSizeChoice = FFT_SIZE_CHOICE_1024;
    work_.paletteChoice = PALETTE_CB;
    work_.displayTypeChoice = DISPLAY_SCROLL;
    work_.freqScaleChoice = FREQ_SCALE_LINEAR;
    work_.channelChoice = CHANNEL_LEFT;
    work_.dbScaleChoice = DB_SCALE_60;
    work_.levelScaleCode = levelScaleCodeFor(DB_SCALE_60);
    work_.resolutionFactor = 10;
    work_.lowBandHz = 0;
    work_.highBandHz = half;
    cursorOffsetText_ = numberText(0);
    if (dialog_ == DialogId::AnalyzeFile) {
        setBothAverageCounts(1, 1);
        timeScaleText_ = formatTimeScale(10.0f);
    } else {
        setBothAverageCounts(1, 10);
        timeScaleText_ = formatTimeScale(5.0f);
        work_.scrollMemChoice = SCROLL_MEM_OFF;
        work_.pitchDetectorChoice = PITCH_DETECTOR_OFF;
        work_.plotTypeChoice = PLOT_SIGNAL;
    }
    if (dialog_ == DialogId::ScanInput) {
        work_.sampleRateChoice = offeredSampleRateChoice(SAMPLE_RATE_22K, runWork_.offeredRates);
        work_.resolutionChoice = RESOLUTION_16_BIT;
        work_.typeChoice = TYPE_MONO;
        work_.recordingChoice = RECORDING_OFF;
        work_.highBandHz = sampleRate() / 2;
    }
    normalise();
}

void ParameterDialogModel::normalise() {
    const std::int32_t half = sampleRate() / 2;
    work_.resolutionFactor = clampTo(work_.resolutionFactor, RESOLUTION_FACTOR_RANGE);
    runWork_.triggerLevel = clampTo(runWork_.triggerLevel, TRIGGER_LEVEL_RANGE);
    // The band limits stay within what their scroll bars can show.
    work_.lowBandHz = clampTo(work_.lowBandHz, lowBandRange(work_.freqScaleChoice, sampleRate()));
    work_.highBandHz = work_.freqScaleChoice == FREQ_SCALE_LOG
                           ? half
                           : clampTo(work_.highBandHz, highBandRange(sampleRate()));
    if (!isScanDialog()) {
        return;
    }
    if (stereo() && work_.channelChoice == CHANNEL_RIGHT) {
        work_.pitchDetectorChoice = PITCH_DETECTOR_OFF;
    }
    if (work_.pitchDetectorChoice == PITCH_DETECTOR_ON) {
        work_.scrollMemChoice = SCROLL_MEM_ON;
    }
    if ((work_.plotTypeChoice == PLOT_PEAK_DELTA && !peakDeltaAllowed()) ||
        (work_.plotTypeChoice == PLOT_LR_DELTA && !lrDeltaAllowed())) {
        work_.plotTypeChoice = PLOT_SIGNAL;
    }
}

bool ParameterDialogModel::pressOk() {
    if (enteringRate_) {
        finishRateChange();
        return false;
    }
    transfer();
    return true;
}

void ParameterDialogModel::transfer() {
    AppSettings& s = settings_;
    const AppSettings& w = work_;
    s.sampleRateChoice = w.sampleRateChoice;
    s.resolutionChoice = w.resolutionChoice;
    s.typeChoice = w.typeChoice;
    s.channelChoice = w.channelChoice;
    s.fftSizeChoice = w.fftSizeChoice;
    s.freqScaleChoice = w.freqScaleChoice;
    s.paletteChoice = w.paletteChoice;
    s.dbScaleChoice = w.dbScaleChoice;
    s.levelScaleCode = w.levelScaleCode;
    s.verticalScrollPos = levelBarPosition(w.levelScaleCode);
    s.displayTypeChoice = w.displayTypeChoice;
    s.plotTypeChoice = w.plotTypeChoice;
    s.scrollMemChoice = w.scrollMemChoice;
    s.pitchDetectorChoice = w.pitchDetectorChoice;
    s.analysisAtStopChoice = w.analysisAtStopChoice;
    s.spareSetting = w.spareSetting;
    s.recordingChoice = w.recordingChoice;
    s.lowBandHz = w.lowBandHz;
    s.highBandHz = w.highBandHz;
    s.resolutionFactor = w.resolutionFactor;
    s.averageCountScroll = w.averageCountScroll;
    s.averageCountPlot = w.averageCountPlot;
    s.timeScaleMsec = s.timeScaleMsecSaved = parseTimeScale(timeScaleText_);
    s.cursorOffsetHz = parseSignedInt(cursorOffsetText_);
    s.freqResolutionHz = static_cast<float>(resolutionHz());
    if (hasControl(ID_FIRST_CHANNEL_EDIT)) {
        // A number beyond the file's channels is taken as its last channel, none as the first.
        const auto channel = [this](const std::string& text) {
            return static_cast<int>(
                std::clamp<std::int64_t>(parseDigits(text), 1, runWork_.fileChannels));
        };
        setFileChannels(s, {channel(firstChannelText_), channel(secondChannelText_)});
    }

    RunValues& r = run_;
    const std::int32_t rate = sampleRate();
    r.sampleRateHz = rate;
    if (hasBeginEnd()) {
        r.beginMsec = parseDigits(beginText_);
        r.endMsec = parseDigits(endText_);
    }
    r.triggerLevel = runWork_.triggerLevel;
    r.channels = w.typeChoice == TYPE_STEREO ? 2 : 1;
    r.bytesPerSample = bytesPerSampleFor(w.resolutionChoice);
    r.analysisWindowMsec = analysisWindowMsec(rate, fftSize(), w.resolutionFactor);
    r.readRatio = rate > 0 ? static_cast<double>(openingBytesPerSample_) / r.bytesPerSample *
                                 (static_cast<double>(openingRate_) / rate)
                           : 1.0;
}

} // namespace korv
