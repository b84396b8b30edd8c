#pragma once

#include <QRect>

// The windows and printouts are designed in twips: 1440 to the inch, 15 to a pixel on the screen.
namespace twips {

inline constexpr int kPerPixel = 15;

// Twips to the nearest pixel.
inline int pixels(int twips)
{
    return (twips + kPerPixel / 2) / kPerPixel;
}

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

} // namespace twips
