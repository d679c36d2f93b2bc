#pragma once
// Zoom in frequency on an analysed file: Ctrl+Shift+wheel over the picture halves (up) or
// doubles (down) the band shown, the frequency under the pointer staying at its height, and
// analyses the held stretch again in that band as Parameters Change does (Parameters Restore
// goes back).

#include <cstdint>

namespace korv {

class MainWindow;
enum class FrequencyScale;

// One step of the band's width on a frequency scale.
inline constexpr double kFrequencyZoomFactor = 2.0;

struct ZoomBand {
    std::int32_t lowHz = 0;
    std::int32_t highHz = 0;
    friend bool operator==(const ZoomBand&, const ZoomBand&) = default;
};

// The band `factor` times as wide as low..high on `scale` (in Hz on the linear scale, in
// decades on the logarithmic one) that keeps `fixedHz` at the same fraction of its height,
// moved inside 0 (1 Hz on the log scale) .. `topHz` where it would leave them, and never
// narrower than the checks allow.
[[nodiscard]] ZoomBand zoomedBand(FrequencyScale scale, double lowHz, double highHz, double fixedHz,
                                  double factor, double topHz);

// Registers Ctrl+Shift+wheel over the drawing area.
void installFrequencyZoom(MainWindow& window);

// One step narrower (direction -1) or wider (1) for the analysed file, the frequency at view
// row `y` kept in place; nothing when the held file cannot be analysed again now.
void changeFrequencyBand(MainWindow& window, int direction, int y);

} // namespace korv
