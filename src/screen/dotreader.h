#pragma once

#include <QString>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <vector>

// Reads a line of text set in an 8-dot bitmap font (installedDotFonts()) by
// its dots: finds the grid of dots in the line's picture (their size and
// where they start, across and down), takes each dot as ink or not, and
// finds the glyphs that the row of dots is made of, glyph by glyph against
// the font's own. A recogniser trained on outline fonts reads such kana as
// Latin letters, and such kanji as other kanji.
//
// `band`: the line, upright, dark glyphs on a light background (8-bit
// gray, the background near 255 and the ink near 0), with a margin of
// background around it; `glyphHeight`: its tallest glyph's height in
// pixels. No value when the line is not in such a font (its picture has
// no grid of square dots, or its glyphs are not the font's); a glyph that
// is not clearly one of the font's is read as U+FFFD.
std::optional<QString> readDots(const cv::Mat &band, int glyphHeight);

// A line's picture as readDots() takes it, its glyphs' height, and where
// it starts across in the picture it was cut from.
struct DotBand {
    cv::Mat band;
    int glyphHeight = 0;
    int left = 0;
};

// The lines of one picture, each read by its dots or not. Lines of glyphs
// about as high share the size of their dots, a bitmap font's dot being one
// or more of the display's pixels, and the display's grid across: found
// over them together where the lines' edges, through a camera's blur, fit
// a grid too little each to tell.
std::vector<std::optional<QString>> readDotLines(const std::vector<DotBand> &bands);
