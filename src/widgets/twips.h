#pragma once

#include <QRect>
#include <QSize>

// Window layouts are designed in twips: 15 twips to the pixel at 96 dots per
// inch.
constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

constexpr QSize twipsSize(int width, int height)
{
    return QSize(twipsToPixels(width), twipsToPixels(height));
}
