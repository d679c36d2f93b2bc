#pragma once
// When a recording began, as the file says: a broadcast wave "bext" chunk (origination date
// and the time reference, the first sample's count since that day's midnight), a GUANO text
// chunk ("guan", its "Timestamp:" line) or the LIST/INFO creation date ("ICRD"). Every read is
// bounded by its chunk and by the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korv {

struct RecordingTime {
    // The civil date and time of the file's clock, in seconds from 1970-01-01 00:00:00 on the
    // same clock (a local time unless utcOffsetMinutes is known).
    std::int64_t civilSeconds = 0;
    std::int32_t microseconds = 0;
    // Samples after civilSeconds at the file's rate (the broadcast time reference).
    std::int64_t referenceSamples = 0;
    // A date without a time of day: shown, but no clock to count from.
    bool dateOnly = false;
    std::optional<std::int32_t> utcOffsetMinutes;
    friend bool operator==(const RecordingTime&, const RecordingTime&) = default;
};

// The broadcast wave fields: "yyyy-mm-dd" and "hh:mm:ss" (any separators), and the time
// reference. With a reference the start is the date's midnight plus reference samples;
// without one, the origination time.
[[nodiscard]] std::optional<RecordingTime>
broadcastRecordingTime(std::string_view date, std::string_view time, std::uint64_t reference);
// "YYYY-MM-DD[Thh:mm:ss[.ffffff][Z|+hh:mm|-hh:mm]]", a space allowed for the T: GUANO's
// Timestamp and the INFO date alike.
[[nodiscard]] std::optional<RecordingTime> isoRecordingTime(std::string_view text);
// The value of the "Timestamp:" line of a GUANO text.
[[nodiscard]] std::optional<RecordingTime> guanoRecordingTime(std::string_view text);

// The recording time a RIFF/WAVE or RF64 file carries: "bext" first, then "guan", then the
// INFO list's "ICRD"; nothing for other files.
using RecordingTimeReader =
    std::function<std::size_t(std::int64_t offset, std::span<std::uint8_t> into)>;
[[nodiscard]] std::optional<RecordingTime> riffRecordingTime(const RecordingTimeReader& read,
                                                             std::int64_t fileSize);

// The time of the sample `frames` after the start at `sampleRate`, in ISO 8601:
// "2026-06-01T05:30:12.262" with its UTC offset when known ("Z", "+02:00"). Nothing when the
// time has no clock; years past 9999, where a time reference carries the last day of 9999,
// are ISO 8601's expanded ones ("+10000-01-01T00:00:00.000").
[[nodiscard]] std::optional<std::string> isoTimeText(const RecordingTime& start,
                                                     std::int64_t frames, std::int32_t sampleRate);
// The start for a reader: "2026-06-01 05:30:12", or the date alone.
[[nodiscard]] std::string recordingTimeText(const RecordingTime& start, std::int32_t sampleRate);

} // namespace korv
