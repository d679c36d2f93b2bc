#pragma once
// The data logs as text: the spectral image log (one block per analysed column), the
// spectrum log (one row per plot point) and the point log (one row per clicked point).
// Lines end in CR LF and numbers are written as the C locale writes them whatever the
// desktop's locale. Formatting only; LogFile writes the text.

#include "base/user_message.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

inline constexpr std::string_view kDataLogTitle = "Korvanthile 6.0 Data";
inline constexpr std::string_view kLogLineEnd = "\r\n";

// "%-2.<decimals>f" of value in the C locale (decimals 0 .. 9), appended to out. A value
// that lies on a rounding tie at double precision is left to the exact library conversion.
void appendFixed(std::string& out, double value, int decimals);
void appendInteger(std::string& out, long long value);
// The same number without the padding, for CSV.
void appendCsvNumber(std::string& out, double value, int decimals);
// text followed by spaces up to width, or cut to width.
void appendPadded(std::string& out, std::string_view text, int width);

// What every log's header names.
struct LogSource {
    std::string wavePath; // the analysed file, 8-bit
    std::int32_t sampleRate = 0;
    int fftSize = 0; // N
    // The image log's "Sample Start": where the segment begins in the file. The spectrum log's
    // "Event Time": the display's time mark, else the segment's begin.
    double startMsec = 0.0;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    std::int32_t levelScaleCode = 0;
    // The real time between columns (the hop in whole samples): the "Time Step" and the sample
    // times go by it, so they do not drift from the sound over a long file.
    double columnMsec = 0.0;
    // From a column's first sample to its window's centre: a column's time is its centre.
    double windowCentreMsec = 0.0;
};

// The bins the logs list: first .. last - 1 and their width; bin k is named by its centre,
// k x width.
struct LogBins {
    double binWidthHz = 0.0;
    long first = 0;
    long last = 0;
};
[[nodiscard]] LogBins logBins(const LogSource& source);

// The spectral image log: header, then one block per column.
class ImageLogFormat {
  public:
    explicit ImageLogFormat(const LogSource& source);
    [[nodiscard]] std::string header() const;
    // Column x's block from its averaged bin levels (quarter-dB, bin k at index k): each line
    // the level of the bin it names, whatever the scale of the image's rows.
    void appendColumn(std::string& out, long x, std::span<const float> averaged) const;
    // The same table as CSV for spreadsheets (LF line ends): a header naming the time's unit
    // and the bins by their frequencies and unit ("time_ms,21.53_Hz_dB,..."), then per column
    // its sample time and the bins' levels, the log's numbers.
    [[nodiscard]] std::string csvHeader(std::string_view timeName = "time_ms",
                                        std::string_view unit = "dB") const;
    void appendCsvColumn(std::string& out, long x, std::span<const float> averaged) const;
    // The same row with another time in its first field (an absolute time).
    void appendCsvColumn(std::string& out, std::string_view time,
                         std::span<const float> averaged) const;
    // The same row on another scale: each bin's stored level in dB moved by `shiftDb` (levels
    // re full scale, or in dB SPL), unclamped, two decimals.
    void appendCsvColumnShifted(std::string& out, std::string_view time,
                                std::span<const float> averaged, double shiftDb) const;

    // Column x's sample time, msec: its window's centre, as the rows name it.
    [[nodiscard]] long sampleTimeMsec(long x) const;

  private:
    // A bin's level as the log writes it, without the line end.
    void appendLevel(std::string& out, std::size_t bin, std::span<const float> averaged) const;

    LogSource source_;
    std::string rowPrefixes_; // per bin the padded bin number and frequency
    LogBins bins_;
    // The text of every whole quarter-dB level from -90 to 0 dB with its line end: most
    // averages are whole, and a look-up is far quicker than formatting.
    std::vector<std::string> wholeLevels_;
};

enum class SpectrumLogScale { Linear, Log, ThirdOctave };

// The spectrum on the screen: per plot point the stored level p (quarter-dB, written as
// p / 4 - levelScaleCode - 90), and what the scale needs to name the points.
struct SpectrumLogPlot {
    SpectrumLogScale scale = SpectrumLogScale::Linear;
    std::span<const float> levels;
    // Linear: each bin's own level stored alike (bin k at index k), for the line naming it.
    std::span<const float> binLevels;
    double firstPointSpanHz = 0.0; // Log: the frequency span of point 0
    int firstBand = 0;             // 1/3-octave: band numbers first .. upper - 1
    int upperBand = 0;
    // 1/3-octave: the band each point shows; a band's row takes its first point. Without
    // them the bands are spread evenly over the points.
    std::span<const int> pointBands;
};
[[nodiscard]] std::string spectrumLogText(const LogSource& source, const SpectrumLogPlot& plot);

// The point log's seven header lines, and one clicked point's row.
[[nodiscard]] std::string pointLogHeader(const LogSource& source);
[[nodiscard]] std::string pointLogRow(long timeMsec, long frequencyHz, long levelDb);

} // namespace korv
