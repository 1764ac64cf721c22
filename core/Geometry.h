#pragma once

namespace skiro {

// A rectangle in device pixels, edges as the window system gives them: right and bottom lie
// just outside. The client area's left and top are 0.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool isEmpty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool intersects(const Rect& other) const {
        return left < other.right && other.left < right && top < other.bottom &&
               other.top < bottom;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace skiro
