// The times a user types to go to, and the column that shows one.

#include "analysis/time_entry.h"

#include <gtest/gtest.h>

#include <optional>

namespace korv {
namespace {

TEST(TimeEntry, SecondsAndClockSpellingsReadAsTheirMsecAndTheRestIsRefused) {
    for (const auto& [text, msec] : {std::pair{"90", 90000.0},
                                     {"90.25", 90250.0},
                                     {"0:90", -1.0}, // seconds after a colon stay below 60
                                     {"1:30", 90000.0},
                                     {"1:02:03.5", 3723500.0},
                                     {"26:00:00", 93600000.0}, // a day's recording and more
                                     {"  7 ", 7000.0},
                                     {"", -1.0},
                                     {"-5", -1.0},
                                     {"1e3", -1.0},
                                     {"1.5:00", -1.0}, // fractions only in the seconds
                                     {"1:2:3:4", -1.0},
                                     {"1::2", -1.0},
                                     {"5.", -1.0},
                                     {"abc", -1.0}}) {
        const std::optional<double> parsed = parseTimeEntry(text);
        if (msec < 0.0) {
            EXPECT_FALSE(parsed.has_value()) << text;
        } else {
            ASSERT_TRUE(parsed.has_value()) << text;
            EXPECT_DOUBLE_EQ(*parsed, msec) << text;
        }
    }
    EXPECT_EQ(timeEntryText(3723500.0), "1:02:03.500");
    EXPECT_EQ(timeEntryText(-3.0), "0:00:00.000");
    EXPECT_EQ(parseTimeEntry(timeEntryText(93600123.0)), 93600123.0);
}

TEST(TimeEntry, TheColumnIsTheOneWhoseWindowCentreIsNearest) {
    // 10 msec columns, windows centred 23 msec after their first sample, the segment 1 s in.
    EXPECT_EQ(columnAtTime(1023.0, 1000.0, 10.0, 23.0), 0);
    EXPECT_EQ(columnAtTime(1027.9, 1000.0, 10.0, 23.0), 0);
    EXPECT_EQ(columnAtTime(1028.1, 1000.0, 10.0, 23.0), 1);
    EXPECT_EQ(columnAtTime(61023.0, 1000.0, 10.0, 23.0), 6000);
    EXPECT_EQ(columnAtTime(500.0, 1000.0, 10.0, 23.0), -52);
    EXPECT_EQ(columnAtTime(500.0, 0.0, 0.0, 0.0), 0); // no columns to go by
}

} // namespace
} // namespace korv
