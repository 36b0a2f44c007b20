#pragma once

#include <QFont>
#include <QRect>

// The windows were designed in twips; 15 of them make one pixel at 96 dots per inch, and Qt's
// own high-DPI scaling does the rest. One rounding for every window: to the nearest pixel.
namespace Twips {

constexpr int toPixels(int twips)
{
    return (twips + 7) / 15;
}

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

// The font the twips layouts were made for: 9 points at 96 dots per inch, in the desktop's
// family. A fixed layout holds its captions whole whatever size the desktop's font is.
inline QFont designFont(QFont font)
{
    font.setPixelSize(12);
    return font;
}

} // namespace Twips
