#include "dialogs/parameter_model.h"

#include "analysis/parameters.h"
#include "dialogs/control_ids.h"
#include "dialogs/radio_groups.h"
#include "dialogs/radio_values.h"
#include "display/plot_layout.h"
#include "settings/settings_inputs.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

namespace korv {

using namespace radio_groups;

namespace {
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
        work_.inputSampleRateHz =
            offeredSampleRateHz(work_.inputSampleRateHz, runWork_.offeredRates);
        if (work_.plotType == PlotType::LrDelta) {
            work_.stereo = true;
            work_.channel = StereoChannel::Dual;
        }
        break;
    case DialogId::ScanFile:
        if (runWork_.pointMode && work_.displayType == DisplayType::Scroll) {
            work_.displayType = DisplayType::LinePlot;
        }
        break;
    case DialogId::SpectrumPlot:
        // This dialog offers only the two plots.
        if (work_.displayType != DisplayType::BarPlot) {
            work_.displayType = DisplayType::LinePlot;
        }
        break;
    }
    if (isScanDialog() && work_.displayType == DisplayType::Scroll &&
        work_.frequencyScale == FrequencyScale::ThirdOctave) {
        work_.frequencyScale = FrequencyScale::Log;
    }
    openingRate_ = sampleRate();
    openingBytesPerSample_ = work_.bytesPerSample();
    rateText_ = numberText(sampleRate());
    beginText_ = numberText(runWork_.beginMsec);
    endText_ = numberText(runWork_.endMsec);
    timeScaleText_ = formatTimeScale(work_.timeScaleMsec);
    cursorOffsetText_ = numberText(work_.cursorOffsetHz);
    firstChannelText_ = numberText(work_.fileChannels.first);
    secondChannelText_ = numberText(work_.fileChannels.second);
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
               offeredSampleRateHz(sampleRateOfRadio(id), runWork_.offeredRates) ==
                   sampleRateOfRadio(id);
    }
    if (isRecordingRadio(id) || isOneOf(id, {ID_TRIGGER_SCROLL, ID_TRIGGER_EDIT})) {
        return dialog_ == DialogId::ScanInput;
    }
    return false;
}

std::int32_t ParameterDialogModel::sampleRate() const {
    if (dialog_ == DialogId::ScanInput) {
        return work_.inputSampleRateHz;
    }
    return runWork_.sampleRateHz;
}

int ParameterDialogModel::fftSize() const {
    return work_.fftSize();
}

double ParameterDialogModel::resolutionHz() const {
    return freqResolutionHz(sampleRate(), fftSize(), work_.resolutionFactor);
}

bool ParameterDialogModel::peakDeltaAllowed() const {
    return work_.displayType == DisplayType::LinePlot &&
           (!stereo() || work_.channel != StereoChannel::Dual);
}

bool ParameterDialogModel::lrDeltaAllowed() const {
    return work_.displayType == DisplayType::LinePlot && stereo() &&
           work_.channel == StereoChannel::Dual;
}

// Analyze File averages only with the scroll display's count.
std::int32_t& ParameterDialogModel::averageCount() {
    const bool scroll =
        dialog_ == DialogId::AnalyzeFile || work_.displayType == DisplayType::Scroll;
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
    work_.frequencyScale = FrequencyScale::Linear;
    work_.lowBandHz = 0;
    work_.highBandHz = std::min(work_.highBandHz, sampleRate() / 2);
}

void ParameterDialogModel::chooseLog() {
    work_.frequencyScale = FrequencyScale::Log;
    work_.log2FftSize = LOG_SCALE_LOG2_FFT_SIZE;
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
    const RadioValue* radio = radioValue(id);
    if (isSampleRateRadio(id)) {
        work_.inputSampleRateHz = sampleRateOfRadio(id);
    } else if (id == FREQ_SCALE_LINEAR) {
        chooseLinear();
    } else if (id == FREQ_SCALE_LOG) {
        chooseLog();
    } else if (radio != nullptr) {
        // The same bytes read as samples of another size or channel count.
        if ((isResolutionRadio(id) || isTypeRadio(id)) && !radio->chosen(work_)) {
            id == RESOLUTION_8_BIT || id == TYPE_MONO ? scaleBeginEnd(2, 1) : scaleBeginEnd(1, 2);
        }
        radio->choose(work_);
        if (isDbRadio(id) && dialog_ != DialogId::SpectrumPlot) {
            work_.levelScaleCode = levelScaleCodeFor(work_.dbRange);
        }
        if (id == DISPLAY_SCROLL && work_.frequencyScale == FrequencyScale::ThirdOctave) {
            chooseLinear();
            work_.highBandHz = sampleRate() / 2;
        }
    }
    normalise();
}

void ParameterDialogModel::scroll(int scrollBarId, ScrollAction action, int thumbPosition) {
    typed_.clear();
    if (!hasControl(scrollBarId) || !enabled(scrollBarId)) {
        return;
    }
    const bool linear = work_.frequencyScale == FrequencyScale::Linear;
    const bool log = work_.frequencyScale == FrequencyScale::Log;
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
    work_.log2FftSize = DEFAULT_LOG2_FFT_SIZE;
    work_.palette = PaletteName::Cb;
    work_.displayType = DisplayType::Scroll;
    work_.frequencyScale = FrequencyScale::Linear;
    work_.channel = StereoChannel::Left;
    work_.dbRange = DbRange::Db60;
    work_.levelScaleCode = levelScaleCodeFor(DbRange::Db60);
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
        work_.scrollMemory = false;
        work_.pitchDetector = false;
        work_.plotType = PlotType::Signal;
    }
    if (dialog_ == DialogId::ScanInput) {
        work_.inputSampleRateHz = offeredSampleRateHz(22050, runWork_.offeredRates);
        work_.resolutionBits = 16;
        work_.stereo = false;
        work_.recording = Recording::Choice::Off;
        work_.highBandHz = sampleRate() / 2;
    }
    normalise();
}

void ParameterDialogModel::normalise() {
    const std::int32_t half = sampleRate() / 2;
    work_.resolutionFactor = clampTo(work_.resolutionFactor, RESOLUTION_FACTOR_RANGE);
    runWork_.triggerLevel = clampTo(runWork_.triggerLevel, TRIGGER_LEVEL_RANGE);
    // The band limits stay within what their scroll bars can show.
    work_.lowBandHz = clampTo(work_.lowBandHz, lowBandRange(work_.frequencyScale, sampleRate()));
    work_.highBandHz = work_.frequencyScale == FrequencyScale::Log
                           ? half
                           : clampTo(work_.highBandHz, highBandRange(sampleRate()));
    if (!isScanDialog()) {
        return;
    }
    if (stereo() && work_.channel == StereoChannel::Right) {
        work_.pitchDetector = false;
    }
    if (work_.pitchDetector) {
        work_.scrollMemory = true;
    }
    if ((work_.plotType == PlotType::PeakDelta && !peakDeltaAllowed()) ||
        (work_.plotType == PlotType::LrDelta && !lrDeltaAllowed())) {
        work_.plotType = PlotType::Signal;
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
    s.inputSampleRateHz = w.inputSampleRateHz;
    s.resolutionBits = w.resolutionBits;
    s.stereo = w.stereo;
    s.channel = w.channel;
    s.log2FftSize = w.log2FftSize;
    s.frequencyScale = w.frequencyScale;
    s.palette = w.palette;
    s.dbRange = w.dbRange;
    s.levelScaleCode = w.levelScaleCode;
    s.verticalScrollPos = levelBarPosition(w.levelScaleCode);
    s.displayType = w.displayType;
    s.plotType = w.plotType;
    s.scrollMemory = w.scrollMemory;
    s.pitchDetector = w.pitchDetector;
    s.analysisAtStop = w.analysisAtStop;
    s.maxOverStep = w.maxOverStep;
    s.recording = w.recording;
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
        s.fileChannels = {channel(firstChannelText_), channel(secondChannelText_)};
    }

    RunValues& r = run_;
    const std::int32_t rate = sampleRate();
    r.sampleRateHz = rate;
    if (hasBeginEnd()) {
        r.beginMsec = parseDigits(beginText_);
        r.endMsec = parseDigits(endText_);
    }
    r.triggerLevel = runWork_.triggerLevel;
    r.channels = w.stereo ? 2 : 1;
    r.bytesPerSample = w.bytesPerSample();
    r.analysisWindowMsec = analysisWindowMsec(rate, fftSize(), w.resolutionFactor);
    r.readRatio = rate > 0 ? static_cast<double>(openingBytesPerSample_) / r.bytesPerSample *
                                 (static_cast<double>(openingRate_) / rate)
                           : 1.0;
}

} // namespace korv
