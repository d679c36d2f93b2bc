#pragma once
// A time the user types to go to: seconds ("90", "90.25") or hours, minutes and seconds
// ("1:30", "1:02:03.5"), and the image column that shows it.

#include <optional>
#include <string>
#include <string_view>

namespace korv {

// The time in msec, or nothing for text that is no time: an empty field, a sign, letters, a
// minutes or seconds field of 60 or more after a colon, more than three fields.
[[nodiscard]] std::optional<double> parseTimeEntry(std::string_view text);

// h:mm:ss.sss, the way the field takes it back (negative times as 0).
[[nodiscard]] std::string timeEntryText(double msec);

// The column whose time (its window's centre, counted in the file from `segmentOffsetMsec`)
// is nearest `msec`; it may lie outside the image.
[[nodiscard]] long columnAtTime(double msec, double segmentOffsetMsec, double columnMsec,
                                double windowCentreMsec);

} // namespace korv
