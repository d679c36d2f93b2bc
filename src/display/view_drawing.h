#pragma once
// What the view draws on the window, as data: filled boxes, lines and texts in drawing order.
// The core computes these lists; the desktop side only paints them (view_draw.h).

#include "display/indexed_surface.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korv {

// A colour by its role. Text and Background are logical palette entries; the others are the
// desktop's fixed colours, which the core does not number.
enum class ViewColour : std::uint8_t {
    Text,       // palette index 0
    Background, // palette index 4
    Black,
    White,
    Face, // the 3-D face colour of panels
    Red,
    Level, // a palette index of the level gradient, the fill's levelIndex
};

struct ViewFill {
    PixelRect rect;
    ViewColour colour = ViewColour::Face;
    std::uint8_t levelIndex = 0; // with ViewColour::Level
    friend bool operator==(const ViewFill&, const ViewFill&) = default;
};

// A line as the desktop draws it: with width 1 the end point is not set.
struct ViewLine {
    PixelPoint from;
    PixelPoint to;
    ViewColour colour = ViewColour::Text;
    int width = 1;
    friend bool operator==(const ViewLine&, const ViewLine&) = default;
};

// Text with its cell's top-left corner at topLeft; opaque when a background is given.
struct ViewText {
    PixelPoint topLeft;
    std::string text;
    ViewColour colour = ViewColour::Text;
    std::optional<ViewColour> background;
    friend bool operator==(const ViewText&, const ViewText&) = default;
};

// Painted in this order: fills, then lines, then texts.
struct ViewDrawing {
    std::vector<ViewFill> fills;
    std::vector<ViewLine> lines;
    std::vector<ViewText> texts;

    void append(const ViewDrawing& other);
};

// printf-style text for the program's C-style number formats.
[[nodiscard]] std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A box on the face colour with a sunken edge: black on the left and top, white on the
// right and bottom.
void addSunkenBox(ViewDrawing& drawing, const PixelRect& box);

} // namespace korv
