#pragma once
// Control ids of the analysis parameter dialogs. A radio button's id is also the stored value
// of the option it stands for, so the whole program compares option fields against these.
// Every control's Qt object name is its id in decimal (controlName(id) of the prompts), so
// test scripts find a control by the id the dialog code uses.
//
// The header is plain C++ so it can move down to the settings layer unchanged. The FFT size
// and frequency scale ids live with the analysis parameters (analysis/parameters.h).

#include "analysis/parameters.h"
#include "base/option_ids.h"

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

} // namespace korv
