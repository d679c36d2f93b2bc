#pragma once
// The ids the settings file stores for each choice: the control id of the parameter dialogs'
// radio button for it (the Variables menu item's command id for Variables). Only the two edges
// read them: settings/settings_file, which maps the record's values to and from these words,
// and the dialogs, whose buttons they are. Everything else takes the record's values
// (FrequencyScale, PlotType, FFT points, ...).

#include <cstdint>

namespace korv {

inline constexpr std::int32_t SAMPLE_RATE_5K = 1163;
inline constexpr std::int32_t SAMPLE_RATE_11K = 1164;
inline constexpr std::int32_t SAMPLE_RATE_22K = 1165;
inline constexpr std::int32_t SAMPLE_RATE_44K = 1166;
inline constexpr std::int32_t SAMPLE_RATE_48K = 1167;
// The further rates a sound input may offer; 1168 and 1169 stay unused, since a stored 1168
// has always read back as the default choice.
inline constexpr std::int32_t SAMPLE_RATE_8K = 1170;
inline constexpr std::int32_t SAMPLE_RATE_16K = 1171;
inline constexpr std::int32_t SAMPLE_RATE_32K = 1172;
inline constexpr std::int32_t SAMPLE_RATE_88K = 1173;
inline constexpr std::int32_t SAMPLE_RATE_96K = 1174;
inline constexpr std::int32_t SAMPLE_RATE_176K = 1175;
inline constexpr std::int32_t SAMPLE_RATE_192K = 1176;
inline constexpr std::int32_t SAMPLE_RATE_352K = 1177;
inline constexpr std::int32_t SAMPLE_RATE_384K = 1178;

// The FFT size buttons, 512 points (1082) to 16384 (1087), one power of two apart.
inline constexpr std::int32_t FFT_SIZE_CHOICE_FIRST = 1082;
inline constexpr std::int32_t FFT_SIZE_CHOICE_LAST = 1087;

inline constexpr std::int32_t RESOLUTION_8_BIT = 1007;
inline constexpr std::int32_t RESOLUTION_16_BIT = 1008;

inline constexpr std::int32_t TYPE_MONO = 1013;
inline constexpr std::int32_t TYPE_STEREO = 1014;

inline constexpr std::int32_t CHANNEL_DUAL = 1089;
inline constexpr std::int32_t CHANNEL_LEFT = 1090;
inline constexpr std::int32_t CHANNEL_RIGHT = 1091;

inline constexpr std::int32_t FREQ_SCALE_LINEAR = 1076;
inline constexpr std::int32_t FREQ_SCALE_LOG = 1077;
inline constexpr std::int32_t FREQ_SCALE_THIRD_OCTAVE = 1078;

inline constexpr std::int32_t DISPLAY_SCROLL = 1061;
inline constexpr std::int32_t DISPLAY_BAR_PLOT = 1062;
inline constexpr std::int32_t DISPLAY_LINE_PLOT = 1063;

inline constexpr std::int32_t PLOT_SIGNAL = 1159;
inline constexpr std::int32_t PLOT_PEAK_DELTA = 1160;
inline constexpr std::int32_t PLOT_LR_DELTA = 1161;

inline constexpr std::int32_t SCROLL_MEM_OFF = 1121;
inline constexpr std::int32_t SCROLL_MEM_ON = 1122;

inline constexpr std::int32_t PITCH_DETECTOR_OFF = 1144;
inline constexpr std::int32_t PITCH_DETECTOR_ON = 1145;

inline constexpr std::int32_t ANALYSIS_AT_STOP_OFF = 1146;
inline constexpr std::int32_t ANALYSIS_AT_STOP_ON = 1147;

// Max Over Step: a column is one frame from its step's start (Off), or each bin's maximum over
// every frame of its step (On).
inline constexpr std::int32_t STEP_MAX_OFF = 1148;
inline constexpr std::int32_t STEP_MAX_ON = 1149;

inline constexpr std::int32_t RECORDING_OFF = 1109;
inline constexpr std::int32_t RECORDING_ON = 1110;
inline constexpr std::int32_t RECORDING_TRIGGER = 1124;

// paletteChoice: the CB, BW and User tables.
inline constexpr std::int32_t PALETTE_CB = 1046;
inline constexpr std::int32_t PALETTE_BW = 1047;
inline constexpr std::int32_t PALETTE_USER = 1048;
// dbScaleChoice: a colour range of 30, 60 or 90 dB.
inline constexpr std::int32_t DB_SCALE_30 = 1140;
inline constexpr std::int32_t DB_SCALE_60 = 1141;
inline constexpr std::int32_t DB_SCALE_90 = 1142;

// The Variables menu item that carries the check mark (a command id).
inline constexpr std::int32_t VARIABLES_ADJUST = 40055;
inline constexpr std::int32_t VARIABLES_FREEZE = 40056;

} // namespace korv
