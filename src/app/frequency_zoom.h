#pragma once
// Zoom in frequency on an analysed file: Ctrl+Shift+wheel over the picture halves (up) or
// doubles (down) the band shown, the frequency under the pointer staying at its height; View >
// Narrow Band and Widen Band (Ctrl+Shift+Up and Down) do the same about the band's middle, or
// the pointer's frequency for the keys; a drag on the frequency labels sets the band to the
// span dragged. Each analyses the held stretch again in the new band as Parameters Change does
// (Parameters Restore goes back).

#include <cstdint>
#include <functional>

namespace korv {

class MainWindow;
enum class FrequencyScale;
struct AppSettings;

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

// The band between two dragged frequencies, in either order, inside 0 .. `topHz` and at
// least MIN_BAND_WIDTH_HZ wide (grown about its middle).
[[nodiscard]] ZoomBand draggedBand(double fromHz, double toHz, double topHz);

// Registers Ctrl+Shift+wheel over the drawing area, and 40102 and 40103.
void installFrequencyZoom(MainWindow& window);

// The held file's band can be changed now: an analysed Scroll image that Parameters Change
// can analyse again, nothing running.
[[nodiscard]] bool frequencyZoomAvailable(MainWindow& window);

// One step narrower (direction -1) or wider (1) for the analysed file, the frequency at view
// row `y` kept in place (the band's middle when `y` is off the spectral rows); nothing when
// the held file cannot be analysed again now.
void changeFrequencyBand(MainWindow& window, int direction, int y);

// The analysed file analysed again in `band`, the view keeping its time; nothing when it
// cannot be now or the band is the one shown.
void setFrequencyBand(MainWindow& window, ZoomBand band);

// Parameters Change `param` (the time scale's or the band's zoom) with `change` made to the
// settings first; Parameters Restore then brings back the settings as they were before it,
// with the image it brings back.
void zoomHeldAnalysis(MainWindow& window, int param,
                      const std::function<void(AppSettings&)>& change);

} // namespace korv
