#include "audio/recording_time.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace korv {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMicrosPerSecond = 1000000;
// A time reference beyond this many samples (years at any rate) is no count since midnight.
constexpr std::uint64_t kMaxReferenceSamples = std::uint64_t{1} << 47;
// The broadcast extension: origination date (10 bytes) and time (8) at byte 320, then the
// time reference as two little-endian 32-bit words.
constexpr std::int64_t kBextDateOffset = 320;
constexpr std::size_t kBextTimeFields = 26;
// Text chunks (GUANO, the INFO list) are read up to this many bytes.
constexpr std::uint32_t kMaxTextChunkBytes = 65536;
constexpr int kMaxChunks = 1024;
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF; // RF64's "see ds64"

std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<std::int64_t> daysFromCivil(int y, int m, int d) {
    using namespace std::chrono;
    const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                              day{static_cast<unsigned>(d)}};
    if (y < 0 || y > 9999 || !date.ok()) { // every year four digits hold, 0000 (1 BC) too
        return std::nullopt;
    }
    return sys_days{date}.time_since_epoch().count();
}

// "yyyy?mm?dd" at the start of text, any separators.
std::optional<std::int64_t> dateSeconds(std::string_view text) {
    const auto y = digitsAt(text, 0, 4);
    const auto m = digitsAt(text, 5, 2);
    const auto d = digitsAt(text, 8, 2);
    if (!y || !m || !d) {
        return std::nullopt;
    }
    const auto days = daysFromCivil(*y, *m, *d);
    return days ? std::optional(*days * kSecondsPerDay) : std::nullopt;
}

// "hh?mm?ss" at `at`, any separators.
std::optional<std::int64_t> clockSeconds(std::string_view text, std::size_t at) {
    const auto h = digitsAt(text, at, 2);
    const auto m = digitsAt(text, at + 3, 2);
    const auto s = digitsAt(text, at + 6, 2);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) {
        return std::nullopt;
    }
    return std::int64_t{*h} * 3600 + *m * 60 + *s;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == '\0' || c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The fraction of a second after '.', and the zone ("Z", "+hh:mm", "+hhmm", "+hh") from `at`
// to the end of text; false when anything else follows.
bool fractionAndZone(std::string_view text, std::size_t at, RecordingTime& t) {
    if (at < text.size() && text[at] == '.') {
        std::int32_t scale = 100000;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            t.microseconds += (text[at] - '0') * scale;
            scale /= 10;
        }
    }
    if (at == text.size()) {
        return true;
    }
    if (text[at] == 'Z' && at + 1 == text.size()) {
        t.utcOffsetMinutes = 0;
        return true;
    }
    if (text[at] != '+' && text[at] != '-') {
        return false;
    }
    const std::string_view zone = text.substr(at + 1);
    const auto h = digitsAt(zone, 0, 2);
    const std::size_t minuteAt = zone.size() == 5 && zone[2] == ':' ? 3 : 2;
    const auto m = zone.size() == 2 ? std::optional(0) : digitsAt(zone, minuteAt, 2);
    if (!h || !m || *h > 23 || *m > 59 || zone.size() != (zone.size() == 2 ? 2 : minuteAt + 2)) {
        return false;
    }
    t.utcOffsetMinutes = (text[at] == '-' ? -1 : 1) * (*h * 60 + *m);
    return true;
}

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

struct Civil {
    int year = 0;
    unsigned month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A time reference may carry the last day of 9999 into later years; the calendar's own
// years end here.
constexpr int kLastYear = static_cast<int>(std::chrono::year::max());

std::optional<Civil> civilOf(std::int64_t milliseconds) {
    using namespace std::chrono;
    const std::int64_t msPerDay = kSecondsPerDay * 1000;
    const std::int64_t dayCount = floorDivide(milliseconds, msPerDay);
    const std::int64_t inDay = milliseconds - dayCount * msPerDay;
    const std::int64_t firstDay = sys_days{year{0} / January / 1}.time_since_epoch().count();
    const std::int64_t lastDay =
        sys_days{year{kLastYear} / December / 31}.time_since_epoch().count();
    if (dayCount < firstDay || dayCount > lastDay) {
        return std::nullopt;
    }
    const year_month_day date{sys_days{days{dayCount}}};
    Civil c;
    c.year = static_cast<int>(date.year());
    c.month = static_cast<unsigned>(date.month());
    c.day = static_cast<unsigned>(date.day());
    c.hour = static_cast<int>(inDay / 3600000);
    c.minute = static_cast<int>(inDay / 60000 % 60);
    c.second = static_cast<int>(inDay / 1000 % 60);
    c.millisecond = static_cast<int>(inDay % 1000);
    return c;
}

// Milliseconds on the file's clock of the sample `frames` after the start, rounded half up;
// nothing when out of range.
std::optional<std::int64_t> millisecondsAt(const RecordingTime& t, std::int64_t frames,
                                           std::int32_t rate) {
    if (rate <= 0 || frames < 0 || t.referenceSamples < 0 ||
        frames > std::numeric_limits<std::int64_t>::max() / 2 - t.referenceSamples) {
        return std::nullopt;
    }
    const std::int64_t n = t.referenceSamples + frames;
    const std::int64_t whole = n / rate;
    if (whole > std::int64_t{1} << 40) {
        return std::nullopt;
    }
    const std::int64_t micros = t.civilSeconds * kMicrosPerSecond + t.microseconds +
                                whole * kMicrosPerSecond +
                                ((n % rate) * kMicrosPerSecond + rate / 2) / rate;
    return floorDivide(micros + 500, 1000);
}

std::string zoneText(const RecordingTime& t) {
    if (!t.utcOffsetMinutes) {
        return {};
    }
    const std::int32_t m = *t.utcOffsetMinutes;
    if (m == 0) {
        return "Z";
    }
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%c%02d:%02d", m < 0 ? '-' : '+', std::abs(m) / 60,
                  std::abs(m) % 60);
    return text.data();
}

// "2026", or past 9999 ISO 8601's expanded year with its sign: "+10000".
std::string yearText(int year) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), year > 9999 ? "%+d" : "%04d", year);
    return text.data();
}

std::uint32_t le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// Reads exactly into.size() bytes at `at`, within the file.
bool readExactly(const RecordingTimeReader& read, std::int64_t fileSize, std::int64_t at,
                 std::span<std::uint8_t> into) {
    const auto n = static_cast<std::int64_t>(into.size());
    return at >= 0 && at <= fileSize && n <= fileSize - at && read(at, into) == into.size();
}

// A text chunk's payload, up to kMaxTextChunkBytes and the file's end.
std::string chunkText(const RecordingTimeReader& read, std::int64_t fileSize, std::int64_t at,
                      std::uint32_t size) {
    const std::int64_t n =
        std::clamp<std::int64_t>(std::min<std::int64_t>(size, kMaxTextChunkBytes), 0,
                                 std::max<std::int64_t>(fileSize - at, 0));
    std::string text(static_cast<std::size_t>(n), '\0');
    if (!readExactly(read, fileSize, at,
                     std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()))) {
        return {};
    }
    return text;
}

std::optional<RecordingTime> bextTime(const RecordingTimeReader& read, std::int64_t fileSize,
                                      std::int64_t at, std::uint32_t size) {
    std::array<std::uint8_t, kBextTimeFields> f{};
    if (size < kBextDateOffset + kBextTimeFields ||
        !readExactly(read, fileSize, at + kBextDateOffset, f)) {
        return std::nullopt;
    }
    const std::string_view fields(reinterpret_cast<const char*>(f.data()), f.size());
    const std::uint64_t reference =
        le32(f.data() + 18) | (std::uint64_t{le32(f.data() + 22)} << 32);
    return broadcastRecordingTime(fields.substr(0, 10), fields.substr(10, 8), reference);
}

// The ICRD of an INFO list held in `list` (after its "INFO" type).
std::optional<RecordingTime> infoTime(std::string_view list) {
    std::size_t at = 0;
    while (at + 8 <= list.size()) {
        const auto* h = reinterpret_cast<const std::uint8_t*>(list.data() + at);
        const std::uint32_t size = le32(h + 4);
        const std::size_t room = list.size() - at - 8;
        if (std::memcmp(h, "ICRD", 4) == 0) {
            return isoRecordingTime(list.substr(at + 8, std::min<std::size_t>(size, room)));
        }
        if (size > room) {
            break;
        }
        at += 8 + size + size % 2;
    }
    return std::nullopt;
}

} // namespace

std::optional<RecordingTime> broadcastRecordingTime(std::string_view date, std::string_view time,
                                                    std::uint64_t reference) {
    const auto day = dateSeconds(date);
    if (!day || reference > kMaxReferenceSamples) {
        return std::nullopt;
    }
    RecordingTime t;
    t.civilSeconds = *day;
    if (reference > 0) {
        t.referenceSamples = static_cast<std::int64_t>(reference);
        return t;
    }
    const auto clock = clockSeconds(time, 0);
    if (!clock) {
        return std::nullopt;
    }
    t.civilSeconds += *clock;
    return t;
}

std::optional<RecordingTime> isoRecordingTime(std::string_view text) {
    text = trimmed(text);
    const auto day = dateSeconds(text);
    if (!day || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    RecordingTime t;
    t.civilSeconds = *day;
    if (text.size() == 10) {
        t.dateOnly = true;
        return t;
    }
    const auto clock = text[10] == 'T' || text[10] == ' ' ? clockSeconds(text, 11) : std::nullopt;
    if (!clock || text[13] != ':' || text[16] != ':' || !fractionAndZone(text, 19, t)) {
        return std::nullopt;
    }
    t.civilSeconds += *clock;
    return t;
}

std::optional<RecordingTime> guanoRecordingTime(std::string_view text) {
    constexpr std::string_view kKey = "Timestamp:";
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        if (line.substr(0, kKey.size()) == kKey) {
            return isoRecordingTime(line.substr(kKey.size()));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return std::nullopt;
}

std::optional<RecordingTime> riffRecordingTime(const RecordingTimeReader& read,
                                               std::int64_t fileSize) {
    std::array<std::uint8_t, 12> head{};
    if (!readExactly(read, fileSize, 0, head) || std::memcmp(head.data() + 8, "WAVE", 4) != 0 ||
        (std::memcmp(head.data(), "RIFF", 4) != 0 && std::memcmp(head.data(), "RF64", 4) != 0 &&
         std::memcmp(head.data(), "BW64", 4) != 0)) {
        return std::nullopt;
    }
    std::optional<RecordingTime> guano;
    std::optional<RecordingTime> info;
    std::int64_t at = 12;
    for (int n = 0; n < kMaxChunks; ++n) {
        std::array<std::uint8_t, 8> h{};
        if (!readExactly(read, fileSize, at, h)) {
            break;
        }
        const std::uint32_t size = le32(h.data() + 4);
        const std::int64_t body = at + 8;
        if (std::memcmp(h.data(), "bext", 4) == 0) {
            if (auto t = bextTime(read, fileSize, body, size)) {
                return t;
            }
        } else if (std::memcmp(h.data(), "guan", 4) == 0 && !guano) {
            guano = guanoRecordingTime(chunkText(read, fileSize, body, size));
        } else if (std::memcmp(h.data(), "LIST", 4) == 0 && !info) {
            const std::string list = chunkText(read, fileSize, body, size);
            if (list.size() >= 4 && list.compare(0, 4, "INFO") == 0) {
                info = infoTime(std::string_view(list).substr(4));
            }
        }
        if (size == kUnknownSize) {
            break;
        }
        at = body + size + size % 2;
    }
    return guano ? guano : info;
}

std::optional<std::string> isoTimeText(const RecordingTime& start, std::int64_t frames,
                                       std::int32_t sampleRate) {
    const auto ms = start.dateOnly ? std::nullopt : millisecondsAt(start, frames, sampleRate);
    const auto c = ms ? civilOf(*ms) : std::nullopt;
    if (!c) {
        return std::nullopt;
    }
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "-%02u-%02uT%02d:%02d:%02d.%03d", c->month, c->day,
                  c->hour, c->minute, c->second, c->millisecond);
    return yearText(c->year) + text.data() + zoneText(start);
}

std::string recordingTimeText(const RecordingTime& start, std::int32_t sampleRate) {
    // Whole seconds: the start truncated, not rounded into the next second.
    RecordingTime second = start;
    second.microseconds = 0;
    const std::int64_t rate = std::max(sampleRate, 1);
    second.referenceSamples = start.referenceSamples / rate * rate;
    const auto ms = millisecondsAt(second, 0, sampleRate);
    const auto c = ms ? civilOf(*ms) : std::nullopt;
    if (!c) {
        return {};
    }
    std::array<char, 40> text{};
    if (start.dateOnly) {
        std::snprintf(text.data(), text.size(), "-%02u-%02u", c->month, c->day);
    } else {
        std::snprintf(text.data(), text.size(), "-%02u-%02u %02d:%02d:%02d", c->month, c->day,
                      c->hour, c->minute, c->second);
    }
    return yearText(c->year) + text.data();
}

} // namespace korv
