#include "analysis/calibration_edit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace korv {

namespace {

struct FilePoint {
    double hz = 0.0;
    double db = 0.0;
};

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A comma with a digit either side: a decimal comma, or a separator between whole numbers.
bool commaBetweenDigits(std::string_view line, std::size_t i) {
    return line[i] == ',' && i > 0 && i + 1 < line.size() && isDigit(line[i - 1]) &&
           isDigit(line[i + 1]);
}

enum class LineRead { Ok, NotNumbers, Ambiguous };

// The first two numbers of a data line; further columns are ignored. With decimal commas a
// comma between digits belongs to its number.
LineRead parseLine(std::string_view line, bool decimalCommas, FilePoint& out) {
    if (!decimalCommas && line.find_first_of(" ") != std::string_view::npos) {
        // "20 1,5": a decimal comma, or columns 1 and 5?
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (commaBetweenDigits(line, i)) {
                return LineRead::Ambiguous;
            }
        }
    }
    double values[2] = {0.0, 0.0};
    std::size_t at = 0;
    for (double& value : values) {
        while (at < line.size() && isSeparator(line[at])) {
            ++at;
        }
        std::size_t end = at;
        int commas = 0;
        bool point = false;
        while (end < line.size() &&
               (!isSeparator(line[end]) || (decimalCommas && commaBetweenDigits(line, end)))) {
            commas += line[end] == ',' ? 1 : 0;
            point = point || line[end] == '.';
            ++end;
        }
        if (commas > 1 || (commas == 1 && point)) {
            return LineRead::Ambiguous; // "1.000,5" or "1,000,5": a thousands mark?
        }
        std::string number(line.substr(at, end - at));
        if (commas == 1) {
            number[number.find(',')] = '.';
        }
        const char* begin = number.data();
        const char* last = number.data() + number.size();
        if (begin < last && *begin == '+') {
            ++begin; // from_chars takes no plus sign
        }
        const auto [next, ec] = std::from_chars(begin, last, value);
        if (ec != std::errc{} || next != last || !std::isfinite(value)) {
            return LineRead::NotNumbers; // "12abc"
        }
        at = end;
    }
    out = {values[0], values[1]};
    return LineRead::Ok;
}

double sampleAt(const std::vector<FilePoint>& points, double hz) {
    if (hz <= points.front().hz) {
        return points.front().db;
    }
    if (hz >= points.back().hz) {
        return points.back().db;
    }
    const auto high = std::upper_bound(points.begin(), points.end(), hz,
                                       [](double f, const FilePoint& p) { return f < p.hz; });
    const FilePoint& hi = *high;
    const FilePoint& lo = *(high - 1);
    const double span = std::log(hi.hz / lo.hz);
    // Neighbours one rounding apart have no span to divide by.
    if (hz == lo.hz || !(span > 0.0)) {
        return lo.db;
    }
    return lo.db + std::log(hz / lo.hz) / span * (hi.db - lo.db);
}

CalibrationImport refused(std::string why) {
    CalibrationImport result;
    result.error = std::move(why);
    return result;
}

} // namespace

float calibrationLevelFromHalfSteps(float v) {
    if (std::isnan(v)) {
        return 0.0f;
    }
    constexpr float kHalfSteps = 2.0f * kCalibrationLimitDb;
    v = std::clamp(v, -kHalfSteps - 1.0f, kHalfSteps + 1.0f);
    float n = std::trunc(v);
    if (v - n >= 0.5f) {
        n += 1.0f;
    } else if (v - n <= -0.5f) {
        n -= 1.0f;
    }
    return std::clamp(n / 2.0f, -kCalibrationLimitDb, kCalibrationLimitDb);
}

CalibrationGraph CalibrationGraph::forSize(int width, int height) {
    constexpr float kSpanDb = 2.0f * kCalibrationLimitDb;
    constexpr float kPoints = kCalibrationPointsUsed;
    CalibrationGraph g;
    g.xStep = static_cast<float>(std::max(width, 0)) / kPoints;
    g.yScale = std::max(static_cast<float>(height - 10) / kSpanDb, 0.0f);
    const auto w = static_cast<float>(width);
    const auto h = static_cast<float>(height);
    g.x0 = std::max(0, static_cast<int>((w - kPoints * g.xStep + g.xStep) / 2.0f));
    g.y0 = std::max(0, static_cast<int>((h - 10.0f - kSpanDb * g.yScale + 10.0f) / 2.0f));
    return g;
}

int CalibrationGraph::pointX(int i) const {
    return static_cast<int>(static_cast<float>(x0) + static_cast<float>(i) * xStep);
}

int CalibrationGraph::pointY(float db) const {
    const float clamped =
        std::isfinite(db) ? std::clamp(db, -kCalibrationLimitDb, kCalibrationLimitDb) : 0.0f;
    return static_cast<int>(static_cast<float>(y0) + (kCalibrationLimitDb - clamped) * yScale);
}

int CalibrationGraph::zeroY() const {
    return static_cast<int>(static_cast<float>(y0) + kCalibrationLimitDb * yScale);
}

float CalibrationGraph::levelAt(int mouseY) const {
    if (!(yScale > 0.0f)) {
        return 0.0f;
    }
    return calibrationLevelFromHalfSteps(2.0f * static_cast<float>(zeroY() - mouseY) / yScale);
}

void connectCalibrationPoints(CalibrationCurve& curve, int a, int b) {
    if (a == b || std::min(a, b) < 0 || std::max(a, b) >= kCalibrationPointsUsed) {
        return;
    }
    const int low = std::min(a, b);
    const int high = std::max(a, b);
    const float from = curve[low].correctionDb;
    const float to = curve[high].correctionDb;
    for (int i = low; i < high; ++i) {
        curve[i].correctionDb =
            from + static_cast<float>(i - low) * (to - from) / static_cast<float>(high - low);
    }
}

void zeroCalibrationCurve(CalibrationCurve& curve) {
    for (CalibrationPoint& p : curve) {
        p.correctionDb = 0.0f;
    }
}

namespace {

// The data lines with their numbers: trimmed, without blank and comment lines.
struct DataLine {
    int number = 0;
    std::string_view text;
};

std::vector<DataLine> dataLines(std::string_view text) {
    std::vector<DataLine> lines;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        while (!line.empty() && (isSeparator(line.back()) || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && isSeparator(line.front())) {
            line.remove_prefix(1);
        }
        if (!line.empty() && line.front() != '*' && line.front() != '"') {
            lines.push_back({number, line});
        }
    }
    return lines;
}

// The file's points in order; the reason when a line cannot be taken.
std::optional<std::string> readPoints(const std::vector<DataLine>& lines,
                                      std::vector<FilePoint>& points) {
    // A spreadsheet in a language that writes decimal commas separates its columns with
    // semicolons or tabs; data that never uses either has commas between columns.
    const bool decimalCommas = std::any_of(lines.begin(), lines.end(), [](const DataLine& l) {
        return l.text.find_first_of(";\t") != std::string_view::npos;
    });
    for (const DataLine& line : lines) {
        FilePoint p;
        const std::string where = "Line " + std::to_string(line.number) + " of the file ";
        switch (parseLine(line.text, decimalCommas, p)) {
        case LineRead::Ok:
            break;
        case LineRead::NotNumbers:
            return where + "is not a frequency in Hz and a level in dB.";
        case LineRead::Ambiguous:
            return where + "has a comma that may be a decimal comma or a separator (\"" +
                   std::string(line.text.substr(0, 40)) +
                   "\"). Separate the columns with semicolons or tabs to use decimal commas, "
                   "or write decimal points.";
        }
        if (p.hz <= 0.0 || (!points.empty() && p.hz <= points.back().hz)) {
            return where + "breaks the rule that frequencies are above 0 Hz and rise.";
        }
        if (points.size() >= static_cast<std::size_t>(kCalibrationFileMaxLines)) {
            return "The file has more than " + std::to_string(kCalibrationFileMaxLines) +
                   " lines of data.";
        }
        points.push_back(p);
    }
    if (points.empty()) {
        return std::string("The file holds no frequency and level lines.");
    }
    return std::nullopt;
}

} // namespace

CalibrationImport importCalibrationText(std::string_view text, const CalibrationCurve& current,
                                        CalibrationSign sign) {
    if (text.size() > kCalibrationFileMaxBytes) {
        return refused("The file is too large to be a calibration file.");
    }
    if (text.find('\0') != std::string_view::npos) {
        return refused("The file is not a text file.");
    }
    // A byte-order mark, as some editors put before UTF-8 text.
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        text.remove_prefix(kUtf8Mark.size());
    }
    std::vector<FilePoint> points;
    if (const std::optional<std::string> why = readPoints(dataLines(text), points)) {
        return refused(*why);
    }
    CalibrationImport result;
    result.ok = true;
    result.curve = current;
    result.pointsRead = static_cast<int>(points.size());
    for (std::size_t i = 0; i < result.curve.size(); ++i) {
        CalibrationPoint& cp = result.curve[i];
        const double hz = cp.frequencyHz;
        double db = std::isfinite(hz) && hz > 0.0 ? sampleAt(points, hz) : 0.0;
        if (!std::isfinite(db)) {
            // Frequencies too far apart to interpolate between (5e-324 Hz and 1e300 Hz).
            char at[32];
            std::snprintf(at, sizeof at, "%g", hz);
            return refused(std::string("The file gives no usable correction at ") + at +
                           " Hz: its frequencies lie too far apart.");
        }
        if (sign == CalibrationSign::ResponseToRemove) {
            db = -db;
        }
        if (std::abs(db) > kCalibrationLimitDb) {
            db = std::clamp(db, -double{kCalibrationLimitDb}, double{kCalibrationLimitDb});
            result.pointsClamped += i < kCalibrationPointsUsed ? 1 : 0;
        }
        cp.correctionDb = static_cast<float>(db);
    }
    return result;
}

} // namespace korv
