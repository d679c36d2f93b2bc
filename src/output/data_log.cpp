#include "output/data_log.h"

#include "analysis/frequency_axis.h"

#include "analysis/parameters.h"
#include "analysis/rounding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace korv {

namespace {

constexpr std::array<long long, 10> kPowersOfTen{1,      10,      100,      1000,      10000,
                                                 100000, 1000000, 10000000, 100000000, 1000000000};
// Below this a scaled value and its rounding are exact enough to tell a tie from a non-tie.
constexpr double kFastFixedLimit = 1e12;
constexpr double kTieMargin = 1e-6;
constexpr double kMinLevelDb = -90.0;
constexpr double kMaxLevelDb = 0.0;
constexpr double kLevelOffsetDb = 90.0;
constexpr int kImagePointWidth = 6;
constexpr int kImageHzWidth = 10;
constexpr int kRowFrequencyWidth = 9;
constexpr int kLinearNumWidth = 5;
constexpr int kLogBandWidth = 20;
constexpr int kBandNumberWidth = 5;
constexpr int kPointFieldWidth = 14;
constexpr int kQuarterDbSpan = 360; // stored 0 .. 360 is -90 .. 0 dB
// The Log rows name a band by whole hertz once the first point spans this much.
constexpr double kWholeHertzSpan = 2.0;

void appendLine(std::string& out, std::string_view text) {
    out += text;
    out += kLogLineEnd;
}

std::string fixedText(double value, int decimals) {
    std::string s;
    appendFixed(s, value, decimals);
    return s;
}

std::string integerText(long long value) {
    std::string s;
    appendInteger(s, value);
    return s;
}

double quarterDbToLevel(double stored) {
    return stored / 4.0 - kLevelOffsetDb;
}

double clampLevel(double db) {
    return std::clamp(db, kMinLevelDb, kMaxLevelDb);
}

void appendSharedHeader(std::string& out, const LogSource& s) {
    appendLine(out, kDataLogTitle);
    appendLine(out, s.wavePath);
    appendInteger(out, s.sampleRate);
    appendLine(out, " Hz Sampling Rate");
}

void appendBinPrefix(std::string& out, long number, double centreHz, int numberWidth) {
    appendPadded(out, integerText(number), numberWidth);
    appendPadded(out, fixedText(centreHz, 2), kRowFrequencyWidth);
}

} // namespace

void appendFixed(std::string& out, double value, int decimals) {
    decimals = std::clamp(decimals, 0, 9);
    const double scaled = std::fabs(value) * static_cast<double>(kPowersOfTen[decimals]);
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (!(scaled < kFastFixedLimit) || std::fabs(fraction - 0.5) < kTieMargin) {
        std::array<char, 400> buffer{};
        const auto r = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                     std::chars_format::fixed, decimals);
        out.append(buffer.data(), r.ptr);
        return;
    }
    const auto n = static_cast<long long>(whole) + (fraction > 0.5 ? 1 : 0);
    if (std::signbit(value)) {
        out += '-';
    }
    appendInteger(out, n / kPowersOfTen[decimals]);
    if (decimals > 0) {
        out += '.';
        long long rest = n % kPowersOfTen[decimals];
        std::array<char, 9> digits{};
        for (int i = decimals - 1; i >= 0; --i) {
            digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        out.append(digits.data(), static_cast<std::size_t>(decimals));
    }
}

void appendCsvNumber(std::string& out, double value, int decimals) {
    const std::size_t before = out.size();
    appendFixed(out, value, decimals);
    while (out.size() > before && out.back() == ' ') {
        out.pop_back();
    }
}

void appendInteger(std::string& out, long long value) {
    std::array<char, 24> buffer{};
    const auto r = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), r.ptr);
}

void appendPadded(std::string& out, std::string_view text, int width) {
    const auto w = static_cast<std::size_t>(std::max(width, 0));
    out.append(text.substr(0, w));
    if (text.size() < w) {
        out.append(w - text.size(), ' ');
    }
}

LogBins logBins(const LogSource& s) {
    LogBins b;
    if (s.sampleRate <= 0 || s.fftSize <= 0) {
        return b;
    }
    b.binWidthHz = static_cast<double>(s.sampleRate) / s.fftSize;
    const double perHz = static_cast<double>(s.fftSize) / s.sampleRate;
    // Never beyond the bins the transform has.
    const double top = s.fftSize / 2.0;
    b.first = roundHalfUp(std::clamp(s.lowBandHz * perHz, 0.0, top));
    b.last = std::max(b.first, roundHalfUp(std::clamp(s.highBandHz * perHz, 0.0, top)));
    return b;
}

ImageLogFormat::ImageLogFormat(const LogSource& source) : source_(source), bins_(logBins(source)) {
    for (long k = bins_.first; k < bins_.last; ++k) {
        appendBinPrefix(rowPrefixes_, k, static_cast<double>(k) * bins_.binWidthHz,
                        kImagePointWidth);
    }
    for (int v = 0; v <= kQuarterDbSpan; ++v) {
        std::string& text = wholeLevels_.emplace_back();
        appendFixed(text, quarterDbToLevel(v), 1);
        text += kLogLineEnd;
    }
}

std::string ImageLogFormat::header() const {
    std::string out;
    appendSharedHeader(out, source_);
    appendFixed(out, logBins(source_).binWidthHz, 2);
    appendLine(out, " Hz Frequency Resolution");
    appendInteger(out, static_cast<long long>(source_.startMsec));
    appendLine(out, " msec Sample Start");
    // To the nearest msec: a hop of whole samples is a hair short of the step asked for.
    appendInteger(out, roundHalfUp(std::clamp(source_.columnMsec, 0.0, 1e9)));
    appendLine(out, " msec Time Step");
    appendLine(out, "");
    return out;
}

long ImageLogFormat::sampleTimeMsec(long x) const {
    return std::max(0L, roundHalfUp(source_.startMsec + columnTimeMsec(static_cast<double>(x),
                                                                       source_.columnMsec,
                                                                       source_.windowCentreMsec)));
}

void ImageLogFormat::appendLevel(std::string& out, std::size_t bin,
                                 std::span<const float> averaged) const {
    const double stored =
        std::clamp(bin < averaged.size() ? static_cast<double>(averaged[bin]) : 0.0, 0.0,
                   static_cast<double>(kQuarterDbSpan));
    if (const double whole = std::floor(stored); whole == stored) {
        const std::string& text = wholeLevels_[static_cast<std::size_t>(whole)];
        out.append(text, 0, text.size() - kLogLineEnd.size());
    } else {
        appendFixed(out, clampLevel(quarterDbToLevel(stored)), 1);
    }
}

void ImageLogFormat::appendColumn(std::string& out, long x, std::span<const float> averaged) const {
    out += kLogLineEnd;
    out += "Sample Time ";
    appendInteger(out, sampleTimeMsec(x));
    appendLine(out, " msec");
    appendPadded(out, "Point", kImagePointWidth);
    appendPadded(out, "Hz", kImageHzWidth);
    appendLine(out, "dB");
    const std::size_t prefix = static_cast<std::size_t>(kImagePointWidth + kRowFrequencyWidth);
    for (long k = bins_.first; k < bins_.last; ++k) {
        const auto i = static_cast<std::size_t>(k - bins_.first);
        out.append(rowPrefixes_, i * prefix, prefix);
        appendLevel(out, static_cast<std::size_t>(k), averaged);
        out += kLogLineEnd;
    }
}

std::string ImageLogFormat::csvHeader(std::string_view timeName, std::string_view unit) const {
    std::string out(timeName);
    for (long k = bins_.first; k < bins_.last; ++k) {
        out += ',';
        appendCsvNumber(out, static_cast<double>(k) * bins_.binWidthHz, 2);
        out += "_Hz_"; // the column's frequency and the unit of its levels
        out += unit;
    }
    out += '\n';
    return out;
}

void ImageLogFormat::appendCsvColumn(std::string& out, long x,
                                     std::span<const float> averaged) const {
    std::string time;
    appendInteger(time, sampleTimeMsec(x));
    appendCsvColumn(out, time, averaged);
}

void ImageLogFormat::appendCsvColumn(std::string& out, std::string_view time,
                                     std::span<const float> averaged) const {
    out += time;
    for (long k = bins_.first; k < bins_.last; ++k) {
        out += ',';
        const std::size_t before = out.size();
        appendLevel(out, static_cast<std::size_t>(k), averaged);
        // The log pads a short number to two characters.
        while (out.size() > before && out.back() == ' ') {
            out.pop_back();
        }
    }
    out += '\n';
}

void ImageLogFormat::appendCsvColumnShifted(std::string& out, std::string_view time,
                                            std::span<const float> averaged, double shiftDb) const {
    out += time;
    for (long k = bins_.first; k < bins_.last; ++k) {
        out += ',';
        const auto bin = static_cast<std::size_t>(k);
        const double stored = bin < averaged.size() ? static_cast<double>(averaged[bin]) : 0.0;
        appendCsvNumber(out, stored / 4.0 + shiftDb, 2);
    }
    out += '\n';
}

namespace {

// The event time and the table's heading, each followed by an empty line.
void appendStartAndHeading(std::string& out, const LogSource& s, std::string_view heading) {
    appendInteger(out, static_cast<long long>(s.startMsec));
    appendLine(out, " msec Event Time");
    appendLine(out, "");
    appendLine(out, heading);
    appendLine(out, "");
}

// Point i's level in dB without the display gain; 0 past the points.
double spectrumPointLevel(const LogSource& s, const SpectrumLogPlot& plot, long i) {
    const auto points = static_cast<long>(plot.levels.size());
    const double p = i >= 0 && i < points ? plot.levels[static_cast<std::size_t>(i)] : 0.0;
    return quarterDbToLevel(p) - s.levelScaleCode;
}

// Every bin of the band with its own level.
void appendLinearSpectrum(std::string& out, const LogSource& s, const SpectrumLogPlot& plot) {
    const LogBins bins = logBins(s);
    appendFixed(out, bins.binWidthHz, 2);
    appendLine(out, " Hz Frequency Resolution");
    std::string heading;
    appendPadded(heading, "Num", kLinearNumWidth);
    appendPadded(heading, "Hz", kRowFrequencyWidth);
    appendStartAndHeading(out, s, heading + "dB");
    for (long k = bins.first; k < bins.last; ++k) {
        appendBinPrefix(out, k, static_cast<double>(k) * bins.binWidthHz, kImagePointWidth);
        const auto at = static_cast<std::size_t>(k);
        const double p = at < plot.binLevels.size() ? plot.binLevels[at] : 0.0;
        appendFixed(out, clampLevel(quarterDbToLevel(p) - s.levelScaleCode), 1);
        out += kLogLineEnd;
    }
}

// A log row's band: its centre and half its width from the rows either side, "%-5i" (at least
// 5 characters, never cut) when the rows are wide, else with two decimals.
std::string logBandText(double centre, double half, bool wholeHertz) {
    std::string band;
    if (wholeHertz) {
        const auto field = [&band](long v) {
            const std::string t = integerText(v);
            appendPadded(band, t, std::max(5, static_cast<int>(t.size())));
        };
        field(roundHalfUp(centre));
        band += " +/- ";
        field(roundHalfUp(half));
    } else {
        appendFixed(band, centre, 2);
        band += " +/- ";
        appendFixed(band, half, 2);
    }
    band += ' ';
    return band;
}

void appendLogSpectrum(std::string& out, const LogSource& s, const SpectrumLogPlot& plot) {
    appendLine(out, "Log Frequency Scale");
    std::string heading;
    appendPadded(heading, "Freq Band, Hz", kLogBandWidth);
    appendStartAndHeading(out, s, heading + "dB");
    const double binWidthHz = logBins(s).binWidthHz;
    const auto points = static_cast<long>(plot.levels.size());
    // The points are the rows of the band on the log axis.
    const FrequencyAxis axis(FrequencyScale::Log, s.lowBandHz, s.highBandHz,
                             static_cast<int>(points));
    const bool wholeHertz = plot.firstPointSpanHz >= kWholeHertzSpan;
    for (long r = 0; r < points; ++r) {
        const double rr = static_cast<double>(r);
        const double centre = axis.hzAtRow(rr);
        const double lower = r == 0 ? s.lowBandHz : axis.hzAtRow(rr - 1.0);
        const double upper = axis.hzAtRow(rr + 1.0);
        const double half = std::max((upper - lower) / 4.0, binWidthHz / 2.0);
        appendPadded(out, logBandText(centre, half, wholeHertz), kLogBandWidth);
        appendFixed(out, clampLevel(spectrumPointLevel(s, plot, r)), 1);
        out += kLogLineEnd;
    }
}

// Every band from the first plotted one, with the level of the point that shows it.
void appendThirdOctaveSpectrum(std::string& out, const LogSource& s, const SpectrumLogPlot& plot) {
    appendLine(out, "1/3 Octave Frequency Scale");
    std::string heading;
    appendPadded(heading, "Bnd", kBandNumberWidth);
    appendPadded(heading, "Cntr Hz", kRowFrequencyWidth);
    appendStartAndHeading(out, s, heading + "dB");
    const auto points = static_cast<long>(plot.levels.size());
    const long count = plot.upperBand - plot.firstBand;
    for (long i = 0; i < count; ++i) {
        const long b = plot.firstBand + i;
        appendPadded(out, integerText(b), kBandNumberWidth);
        appendPadded(out, fixedText(std::pow(10.0, static_cast<double>(b) / 10.0), 2),
                     kRowFrequencyWidth);
        long point = i * points / count;
        if (const auto shown = std::find(plot.pointBands.begin(), plot.pointBands.end(), b);
            shown != plot.pointBands.end()) {
            point = shown - plot.pointBands.begin();
        }
        // Not clamped: the band levels have their own range.
        appendFixed(out, spectrumPointLevel(s, plot, point), 1);
        out += kLogLineEnd;
    }
}

} // namespace

std::string spectrumLogText(const LogSource& s, const SpectrumLogPlot& plot) {
    std::string out;
    appendSharedHeader(out, s);
    switch (plot.scale) {
    case SpectrumLogScale::Linear:
        appendLinearSpectrum(out, s, plot);
        break;
    case SpectrumLogScale::Log:
        appendLogSpectrum(out, s, plot);
        break;
    case SpectrumLogScale::ThirdOctave:
        appendThirdOctaveSpectrum(out, s, plot);
        break;
    }
    return out;
}

std::string pointLogHeader(const LogSource& s) {
    std::string out;
    appendSharedHeader(out, s);
    appendInteger(out, s.fftSize);
    appendLine(out, " Point FFT");
    appendLine(out, "");
    appendLine(out, "Time (msec),  Freq (Hz),    Level (dB)");
    appendLine(out, "");
    return out;
}

std::string pointLogRow(long timeMsec, long frequencyHz, long levelDb) {
    std::string out;
    appendPadded(out, integerText(timeMsec), kPointFieldWidth);
    appendPadded(out, integerText(frequencyHz), kPointFieldWidth);
    appendLine(out, integerText(levelDb));
    return out;
}

} // namespace korv
