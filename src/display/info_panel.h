#pragma once
// The information panel below the view: band, channels, sample rate and segment length.

#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace korv {

enum class DisplayChannels { Mono, Left, Right, Dual };

struct InfoPanelInputs {
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    DisplayChannels channels = DisplayChannels::Mono;
    std::int32_t sampleRate = 0;
    std::int64_t segmentBytes = 0;
    // The file's own sample format ("24 bit", "32 bit float") when it is not what is held;
    // shown after the sample rate.
    std::string_view sourceFormat;
    // Scan Input: segmentBytes are the bytes recorded so far, shown in megabytes with the
    // time they hold (frames of recordedFrameBytes at sampleRate).
    bool recordedLength = false;
    // When the file's recording began ("2026-06-01 05:30:12"), shown after its length.
    std::string recordingTime{};
    int recordedFrameBytes = 0;
    // A file of more than two channels: their number and the ones held (from 1), named
    // instead of "Stereo" or "Monaural".
    int fileChannels = 0;
    int firstChannel = 1;
    int secondChannel = 2;
};

inline constexpr std::string_view INFO_BAND_LABEL = "Display Band (Hz) :";
inline constexpr std::string_view INFO_CHANNELS_LABEL = "Display Channels :";
inline constexpr std::string_view INFO_RATE_LABEL = "Sample Rate (Hz) :";
inline constexpr std::string_view INFO_LENGTH_LABEL = "Sample Length (kb) :";
inline constexpr std::string_view INFO_RECORDED_LABEL = "Sample Length (mb) :";

[[nodiscard]] std::string_view displayChannelsText(DisplayChannels channels);
// The same, or for a file of more than two channels the ones shown: "Channels 2, 4 of 6",
// "Channel 3 of 6".
[[nodiscard]] std::string channelsText(const InfoPanelInputs& in);

// The widest texts of each column, for sizing the box: every label, and values with the most
// digits the fields hold (bands and rates up to 5 digits, lengths up to 7), each channel text
// a rate with the widest format a file is converted from, and a length with a recording time.
inline constexpr std::string_view INFO_LABELS[] = {INFO_BAND_LABEL, INFO_CHANNELS_LABEL,
                                                   INFO_RATE_LABEL, INFO_LENGTH_LABEL};
inline constexpr std::string_view INFO_WIDEST_VALUES[] = {"00000 to 00000",
                                                          "Monaural",
                                                          "Stereo (Left)",
                                                          "Stereo (Right)",
                                                          "Stereo",
                                                          "Channels 00, 00 of 00",
                                                          "00000, 32 bit float",
                                                          "0000000",
                                                          "0000.00, 000000 sec",
                                                          "0000000, 0000-00-00 00:00:00"};

// The sunken box at geometry.infoPanel with its four lines of black text, the values at
// geometry.infoValueOffset right of the labels.
[[nodiscard]] ViewDrawing infoPanel(const ViewGeometry& geometry, const InfoPanelInputs& in);

} // namespace korv
