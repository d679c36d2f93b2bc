#pragma once
// Control ids of the analysis parameter dialogs. A radio button's id is the one the settings
// file stores for its value (base/option_ids.h); dialogs/radio_values maps each to the record's
// value, so nothing outside the dialogs and the settings file sees one.
// Every control's Qt object name is its id in decimal (controlName(id) of the prompts), so
// test scripts find a control by the id the dialog code uses.
//
#include "base/option_ids.h"

#include <array>
#include <cstdint>

namespace korv {

// Buttons.
inline constexpr int ID_OK = 1025;
inline constexpr int ID_CANCEL = 2;
inline constexpr int ID_RESET = 1027;
inline constexpr int ID_NEW_RATE = 1058; // dialogs 102 and 104; in 103 the id is a scroll bar

// Sample data description edits (dialogs 102, 104).
inline constexpr int ID_RATE_EDIT = 1001;
inline constexpr int ID_BEGIN_EDIT = 1002;
inline constexpr int ID_END_EDIT = 1004;

// Scroll bars and their read-only mirrors.
inline constexpr int ID_TRIGGER_SCROLL = 1054;
inline constexpr int ID_TRIGGER_EDIT = 1055;
inline constexpr int ID_LOW_BAND_SCROLL = 1056;
inline constexpr int ID_LOW_BAND_EDIT = 1057;
inline constexpr int ID_HIGH_BAND_SCROLL = 1064;
inline constexpr int ID_HIGH_BAND_SCROLL_INPUT = 1058; // dialog 103
inline constexpr int ID_HIGH_BAND_EDIT = 1059;
inline constexpr int ID_RESOLUTION_SCROLL = 1066;
inline constexpr int ID_RESOLUTION_EDIT = 1029;
inline constexpr int ID_AVERAGE_SCROLL = 1067;
inline constexpr int ID_AVERAGE_EDIT = 1060;

// Edits the user types into.
inline constexpr int ID_TIME_SCALE_EDIT = 1123;
inline constexpr int ID_CURSOR_OFFSET_EDIT = 1126;
// The two channels of a file of more than two (dialog 102).
inline constexpr int ID_FIRST_CHANNEL_EDIT = 1180;
inline constexpr int ID_SECOND_CHANNEL_EDIT = 1181;
inline constexpr int CHANNEL_EDIT_MAX_CHARS = 2;

// Option values (radio ids): base/option_ids.h, plus these.
inline constexpr std::int32_t FFT_SIZE_CHOICE_1024 = FFT_SIZE_CHOICE_FIRST + 1;
inline constexpr std::int32_t FFT_SIZE_CHOICE_4096 = FFT_SIZE_CHOICE_FIRST + 3;

// A sample rate radio of the Scan Input dialog.
struct SampleRateChoice {
    std::int32_t id = 0;
    const char* label = "";
    std::int32_t hz = 0;
};
// Every rate Scan Input can ask an input for, rising.
inline constexpr std::array<SampleRateChoice, 14> SAMPLE_RATE_CHOICES{{
    {SAMPLE_RATE_5K, "5k", 5513},
    {SAMPLE_RATE_8K, "8k", 8000},
    {SAMPLE_RATE_11K, "11k", 11025},
    {SAMPLE_RATE_16K, "16k", 16000},
    {SAMPLE_RATE_22K, "22k", 22050},
    {SAMPLE_RATE_32K, "32k", 32000},
    {SAMPLE_RATE_44K, "44k", 44100},
    {SAMPLE_RATE_48K, "48k", 48000},
    {SAMPLE_RATE_88K, "88k", 88200},
    {SAMPLE_RATE_96K, "96k", 96000},
    {SAMPLE_RATE_176K, "176k", 176400},
    {SAMPLE_RATE_192K, "192k", 192000},
    {SAMPLE_RATE_352K, "352k", 352800},
    {SAMPLE_RATE_384K, "384k", 384000},
}};

} // namespace korv
