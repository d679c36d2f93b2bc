#include "display/view_drawing.h"

#include <cstdarg>
#include <cstdio>

namespace korv {

void ViewDrawing::append(const ViewDrawing& other) {
    fills.insert(fills.end(), other.fills.begin(), other.fills.end());
    lines.insert(lines.end(), other.lines.begin(), other.lines.end());
    texts.insert(texts.end(), other.texts.begin(), other.texts.end());
}

std::string formatText(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

void addSunkenBox(ViewDrawing& drawing, const PixelRect& box) {
    if (box.empty()) {
        return;
    }
    drawing.fills.push_back({box, ViewColour::Face});
    const int left = box.x;
    const int top = box.y;
    const int right = box.right() - 1;
    const int bottom = box.bottom() - 1;
    // One-pixel lines leave out their end point, so each runs one pixel past its corner.
    drawing.lines.push_back({{left, top}, {right + 1, top}, ViewColour::Black});
    drawing.lines.push_back({{left, top}, {left, bottom + 1}, ViewColour::Black});
    drawing.lines.push_back({{right, top + 1}, {right, bottom + 1}, ViewColour::White});
    drawing.lines.push_back({{left + 1, bottom}, {right + 1, bottom}, ViewColour::White});
}

} // namespace korv
