#include "analysis/time_entry.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace korv {

namespace {

constexpr double kMsecPerSecond = 1000.0;
constexpr int kSexagesimal = 60;
constexpr int kMaxFields = 3; // hours, minutes, seconds

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Digits with at most one decimal point (no sign, no exponent); `whole` asks for digits only.
std::optional<double> field(std::string_view s, bool whole) {
    if (s.empty() || s.front() == '.' || s.back() == '.') {
        return std::nullopt;
    }
    int points = 0;
    for (const char c : s) {
        if (c == '.') {
            ++points;
        } else if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    if (points > (whole ? 0 : 1)) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc{} || end != s.data() + s.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<double> parseTimeEntry(std::string_view text) {
    std::string_view s = trimmed(text);
    std::array<std::string_view, kMaxFields> fields{};
    int count = 0;
    while (true) {
        const std::size_t colon = s.find(':');
        if (count == kMaxFields) {
            return std::nullopt;
        }
        fields[static_cast<std::size_t>(count++)] = s.substr(0, colon);
        if (colon == std::string_view::npos) {
            break;
        }
        s.remove_prefix(colon + 1);
    }
    double seconds = 0.0;
    for (int i = 0; i < count; ++i) {
        const bool last = i == count - 1;
        const auto value = field(fields[static_cast<std::size_t>(i)], !last);
        // Minutes and seconds after a colon stay below 60; the first field may be any size.
        if (!value || (i > 0 && *value >= kSexagesimal)) {
            return std::nullopt;
        }
        seconds = seconds * kSexagesimal + *value;
    }
    const double msec = seconds * kMsecPerSecond;
    if (!std::isfinite(msec) || msec > static_cast<double>(std::numeric_limits<long>::max())) {
        return std::nullopt;
    }
    return msec;
}

std::string timeEntryText(double msec) {
    const long long total = std::isfinite(msec) && msec > 0.0 ? std::llround(msec) : 0;
    const long long ms = total % 1000;
    const long long seconds = total / 1000;
    std::array<char, 48> out{};
    std::snprintf(out.data(), out.size(), "%lld:%02lld:%02lld.%03lld", seconds / 3600,
                  seconds / 60 % 60, seconds % 60, ms);
    return out.data();
}

long columnAtTime(double msec, double segmentOffsetMsec, double columnMsec,
                  double windowCentreMsec) {
    if (!(columnMsec > 0.0)) {
        return 0;
    }
    const double column = (msec - segmentOffsetMsec - windowCentreMsec) / columnMsec;
    constexpr auto kLimit = static_cast<double>(std::numeric_limits<int>::max());
    return std::lround(std::clamp(column, -kLimit, kLimit));
}

} // namespace korv
