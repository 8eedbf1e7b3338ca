#pragma once

#include <QString>
#include <opencv2/core/mat.hpp>
#include <optional>

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
