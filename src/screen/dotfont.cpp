#include "screen/dotfont.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <memory>
#include <string>
#include <unordered_set>

namespace {

// The 8-dot fonts that Debian ships.
const char *const kFamilies[] = {"MisakiGothic", "MisakiGothic2nd", "MisakiMincho"};

// The characters read, in the order of preference for look-alikes:
// Latin letters, digits and signs, kana and Japanese punctuation, kanji,
// other signs, the full-width and half-width forms.
const char32_t kRanges[][2] = {{0x21, 0x7E},     {0x3001, 0x30FF}, {0x4E00, 0x9FFF},
                               {0xA1, 0xFF},     {0x2010, 0x2312}, {0x2460, 0x2473},
                               {0x2500, 0x266F}, {0xFF01, 0xFF9F}};

// The file of an installed font of `family`; empty when none is.
std::string fontFile(FcConfig *config, const char *family)
{
    std::string file;
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
    if (FcFontSet *set = FcFontList(config, pattern, objects)) {
        FcChar8 *path = nullptr;
        if (set->nfont > 0 && FcPatternGetString(set->fonts[0], FC_FILE, 0, &path) == FcResultMatch)
            file = reinterpret_cast<const char *>(path);
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return file;
}

// The font's glyphs drawn 8 dots high, one bit a dot, into `font`.
void readGlyphs(FT_Library library, const std::string &file, DotFont *font)
{
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), 0, &face) != 0)
        return;
    const std::unique_ptr<FT_FaceRec_, decltype(&FT_Done_Face)> owned(face, FT_Done_Face);
    if (FT_Set_Pixel_Sizes(face, 0, 8) != 0)
        return;
    const long ascender = face->size->metrics.ascender >> 6;
    std::unordered_set<std::uint64_t> seen[9];
    for (const auto &range : kRanges) {
        for (char32_t c = range[0]; c <= range[1]; ++c) {
            if (FT_Get_Char_Index(face, c) == 0 ||
                FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
                continue;
            const FT_GlyphSlot slot = face->glyph;
            const int width = int(slot->advance.x >> 6);
            if ((width != 4 && width != 8) || slot->bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
                continue;
            std::uint64_t dots = 0;
            for (unsigned row = 0; row < slot->bitmap.rows; ++row) {
                const long y = ascender - slot->bitmap_top + long(row);
                for (unsigned column = 0; column < slot->bitmap.width; ++column) {
                    const long x = slot->bitmap_left + long(column);
                    const bool ink =
                        (slot->bitmap.buffer[row * unsigned(slot->bitmap.pitch) + column / 8] >> (7 - column % 8)) & 1;
                    if (ink && y >= 0 && y < 8 && x >= 0 && x < width)
                        dots |= std::uint64_t(1) << (y * 8 + x);
                }
            }
            // A blank (a space) is read as the gap it is.
            if (dots != 0 && seen[width].insert(dots).second)
                (width == 4 ? font->narrow : font->wide).push_back({dots, width, c});
        }
    }
}

std::vector<DotFont> loadFonts()
{
    std::vector<DotFont> fonts;
    // A configuration of its own, let go when the fonts are read (the
    // shared one keeps what it allocates until the program ends).
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (!config)
        return fonts;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        FcConfigDestroy(config);
        return fonts;
    }
    for (const char *family : kFamilies) {
        const std::string file = fontFile(config, family);
        if (file.empty())
            continue;
        DotFont font;
        font.family = family;
        readGlyphs(library, file, &font);
        if (!font.narrow.empty() || !font.wide.empty())
            fonts.push_back(std::move(font));
    }
    FT_Done_FreeType(library);
    FcConfigDestroy(config);
    return fonts;
}

} // namespace

const std::vector<DotFont> &installedDotFonts()
{
    static const std::vector<DotFont> fonts = loadFonts();
    return fonts;
}
