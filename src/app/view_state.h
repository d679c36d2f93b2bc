#pragma once
// What the window shows of the held analysis and how: the layout and scrolling, the overlays,
// the marks and the pictures the modes draw into. The window owns it; only the GUI thread
// touches it.

#include "display/indexed_surface.h"
#include "display/palette.h"
#include "display/plot_layout.h"
#include "display/spectral_image.h"
#include "platform/allocations.h"
#include "platform/palette_display.h"

namespace korv {

// Where the view stands over the image: what Parameters Restore brings back with it.
struct ViewScroll {
    HScrollState h; // the horizontal bar, in image columns
    int rowPos = 0; // the vertical bar's row position
    int rowMax = 0; // and its range
};

struct ViewState {
    LevelPalette activePalette = kCbPalette; // the levels' colours as the display shows them
    // The 256 colours the window, the exports and the printout turn the pictures' indices into:
    // activePalette and the desktop's fixed colours.
    PaletteDisplay display;
    PlotLayout layout;
    ViewScroll scroll;
    bool layoutPending = false;     // a resize came while a mode held the surfaces
    bool modeHoldsSurfaces = false; // a mode draws straight into the window's surfaces
    bool analysisDrawing = false;   // an Analyze File pass is drawing its columns
    int drawingColumn = 0;          // the column it draws now; the view follows it
    bool playbackActive = false;    // PLAY or PLAY WDW is sounding
    bool scanDrawing = false;       // a scan mode is drawing into the window
    bool displayFrozen = false;     // a right click froze the Scan Input display
    bool axesShown = false;         // the axis labels are drawn
    bool gridOn = false;            // the grid is drawn over the picture
    bool dragFillDone = false;      // the image was cleared once during a frame drag
    // The held picture is a scan's scroll memory: shown from its first column, not scrolled or
    // played. The scan that made it decides, from the choice in force when it started; an
    // analysed file's picture never is one.
    bool scrollMemoryShown = false;
    double timeNowMsec = 0.0; // the play position the readouts show while playing
    // The display's time mark: the time of the point last clicked in an analysed image, or the
    // elapsed time of a scan at its last update; 0 for none. Playing does not move it and a new
    // analysis clears it. The spectrum log's "Event Time".
    double timeMarkMsec = 0.0;

    // The plot of a point spectrum or of a plot display.
    CountedBlock<IndexedSurface> plotImage;
    // A Scroll scan without the scroll memory: the picture of the running pane, so that a
    // repaint or a new palette redraws it; it goes when the scan ends.
    CountedBlock<SpectralImage> runningScrollImage;

    // Drawing objects made once at creation.
    IndexedSurface pointerMarkA;
    IndexedSurface pointerMarkB;
    IndexedSurface positionStrip;
};

// Shows activePalette on the display; every picture recolours on its next paint.
inline void showActivePalette(ViewState& view) {
    view.display.setLogicalPalette(buildLogicalPalette(view.activePalette));
}

} // namespace korv
