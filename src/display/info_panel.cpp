#include "display/info_panel.h"

#include <algorithm>

namespace korv {

std::string_view displayChannelsText(DisplayChannels channels) {
    switch (channels) {
    case DisplayChannels::Left:
        return "Stereo (Left)";
    case DisplayChannels::Right:
        return "Stereo (Right)";
    case DisplayChannels::Dual:
        return "Stereo";
    case DisplayChannels::Mono:
    default:
        return "Monaural";
    }
}

std::string channelsText(const InfoPanelInputs& in) {
    if (in.fileChannels <= 2) {
        return std::string(displayChannelsText(in.channels));
    }
    switch (in.channels) {
    case DisplayChannels::Dual:
        return formatText("Channels %d, %d of %d", in.firstChannel, in.secondChannel,
                          in.fileChannels);
    case DisplayChannels::Right:
        return formatText("Channel %d of %d", in.secondChannel, in.fileChannels);
    case DisplayChannels::Left:
    case DisplayChannels::Mono:
    default:
        return formatText("Channel %d of %d", in.firstChannel, in.fileChannels);
    }
}

namespace {

// The recording's size and the time its whole frames hold: "1.76, 10 sec".
std::string recordedText(const InfoPanelInputs& in) {
    const std::int64_t bytes = std::max<std::int64_t>(in.segmentBytes, 0);
    std::string text = formatText("%.2f", static_cast<double>(bytes) / 1e6);
    if (in.recordedFrameBytes > 0 && in.sampleRate > 0) {
        const std::int64_t frames = bytes / in.recordedFrameBytes;
        text += formatText(", %lld sec", static_cast<long long>(frames / in.sampleRate));
    }
    return text;
}

// The file's length in kilobytes, and when it was recorded: "1234, 2026-06-01 05:30:12".
std::string lengthText(const InfoPanelInputs& in) {
    const auto kb =
        static_cast<unsigned long long>(std::max<std::int64_t>(in.segmentBytes, 0) / 1000);
    return in.recordingTime.empty() ? formatText("%-4llu", kb)
                                    : formatText("%llu, ", kb) + in.recordingTime;
}

} // namespace

ViewDrawing infoPanel(const ViewGeometry& g, const InfoPanelInputs& in) {
    ViewDrawing d;
    addSunkenBox(d, g.infoPanel);
    const auto unsignedOf = [](long long v) {
        return static_cast<unsigned long long>(std::max(0LL, v));
    };
    const std::string values[] = {
        formatText("%llu to %llu", unsignedOf(in.lowBandHz), unsignedOf(in.highBandHz)),
        channelsText(in),
        formatText("%-4llu", unsignedOf(in.sampleRate)) +
            (in.sourceFormat.empty() ? std::string{} : ", " + std::string(in.sourceFormat)),
        in.recordedLength ? recordedText(in) : lengthText(in),
    };
    const int labelX = g.infoPanel.x + g.charWidth;
    const int valueX = labelX + (g.infoValueOffset > 0 ? g.infoValueOffset
                                                       : INFO_VALUE_COLUMN_CHARS * g.charWidth);
    for (int line = 0; line < 4; ++line) {
        const int y = panelLineTop(g.infoPanel, g.charHeight, line);
        const std::string_view label =
            line == 3 && in.recordedLength ? INFO_RECORDED_LABEL : INFO_LABELS[line];
        d.texts.push_back({{labelX, y}, std::string(label), ViewColour::Black, ViewColour::Face});
        d.texts.push_back({{valueX, y}, values[line], ViewColour::Black, ViewColour::Face});
    }
    return d;
}

} // namespace korv
