#pragma once

#include <cstdint>
#include <vector>

// The glyphs of an 8-dot bitmap font, as older handsets draw their text:
// every character a grid of 8 rows of dots, 8 dots wide (kana, kanji) or
// 4 (Latin letters, digits, half-width kana), its last column and row
// left blank as the space to the next. Read from the fonts installed on
// this machine (Debian's fonts-misaki), once per program.
struct DotGlyph {
    // Dot (row, column) is bit row * 8 + column.
    std::uint64_t dots = 0;
    int width = 0;
    char32_t character = 0;
};

struct DotFont {
    // The font's family, as fontconfig names it.
    const char *family = nullptr;
    // One glyph for each drawing, 4 dots wide and 8: where two characters
    // look the same dot for dot, the one a handset shows more often (kana
    // before kanji before signs) stands for both.
    std::vector<DotGlyph> narrow;
    std::vector<DotGlyph> wide;
};

// The 8-dot fonts installed: none when there are none.
const std::vector<DotFont> &installedDotFonts();
