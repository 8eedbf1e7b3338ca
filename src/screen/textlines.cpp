#include "screen/textlines.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The neighbourhood a pixel is compared with, in pixels: wider than any
// stroke of a glyph, narrower than the light falling off across a screen.
constexpr int kNeighbourhood = 31;
// Pieces of ink (connected pixels) lower than this are specks, rules and
// accents: not what a line is found by (the line's picture still holds them).
constexpr int kLowestPiece = 5;
// A piece of ink this many times as high as it is wide is a stroke, solid
// or not (see piecesOf).
constexpr double kStrokeAspect = 2.0;
// A piece solid in the mask is blurred glyphs, not an icon, where across it
// the ink falls between two strokes by this share of their contrast.
constexpr double kStrokeDip = 0.3;
// A line covered by a larger one of the other polarity is still text when
// it stands out from its background this many times as far as that one.
constexpr double kOutstanding = 2.0;
// A dash (a flat mark) beside a line's end is part of it when it lies
// within this share of the glyphs' height from their middle: within their
// height; one over the glyphs, within this other share (a stroke of theirs
// reaching out of the line's box, not the line above's).
constexpr double kDashReach = 0.5;
constexpr double kDashOver = 0.3;
// A dot on a line's foot lies no further below the line's lowest ink than
// this (pixels; a camera's blur), or a tenth of the glyphs' height.
constexpr double kDotBelowFoot = 2.0;
// The dot of an 「ｉ」 or a 「ｊ」 lies no further above its stroke than this
// share of the glyphs' height; a line's glyphs are taken this share of the
// way from their own height up to the height of such a letter with its dot.
// Filmed by the model handset's camera, 240 typed addresses a font were
// found within a wait in IPAGothic / VL Gothic: 151 / 189 with none of
// the way, 227 / 167 with all of it (the line read smaller than the line
// above it), 204 / 205 with half.
constexpr double kDotOverStem = 0.4;
constexpr double kDottedHeightShare = 0.5;
// A faded low line (「＿」) is brought to its line's ink (inkedLikeItsLine)
// by at most this gain.
constexpr double kLowLineGain = 4.0;
// A line's plain gray (TextLine::plain) is measured where there is no
// ink when that is this share of its box at least; elsewhere it is the
// middle gray.
constexpr double kPlainShare = 0.125;
// Lines that lie level join across a gap of up to this many of their
// glyphs' height (full-width letters with a dot between them).
constexpr double kWideGap = 2.5;
// Lines of text are no higher than this (pixels of the picture read): a
// lit display in a camera's frame, a band, a picture are no line.
constexpr int kHighestLine = 160;

// A piece of ink: connected pixels darker (or lighter) than around them.
struct Piece {
    cv::Rect box;
    int pixels = 0;
};

// Whether a piece (`own` its pixels within its box) is a signal-strength
// sign: bars that ran together, standing on one base, rising to the right
// (its first quarter at most half as tall as its last). Every column is
// solid from its top down to the base (a glyph's bowl or bars are not).
// Read, it was an `l`. Each bar is about as wide as the next rises above
// it, so the sign is at least two thirds as wide as high: a narrow glyph
// on a foot (「ｊ」, its hook low at the left and its stem tall at the
// right) is none (it was lost: 「．ｎｅ．ｊｐ」 read 「. ne. P」).
bool isSignalSign(const cv::Mat &own)
{
    if (own.cols < 4 || own.cols * 3 < own.rows * 2)
        return false;
    std::vector<int> heights;
    for (int x = 0; x < own.cols; ++x) {
        int top = -1;
        int bottom = -1;
        for (int y = 0; y < own.rows; ++y)
            if (own.at<uchar>(y, x)) {
                top = top < 0 ? y : top;
                bottom = y;
            }
        const int height = bottom - top + 1;
        if (top < 0 || bottom < own.rows - 1 - own.rows / 6 || cv::countNonZero(own.col(x)) + 1 < height)
            return false;
        heights.push_back(height);
    }
    const auto quarter = std::ptrdiff_t(heights.size() / 4);
    const int tallest = *std::max_element(heights.begin(), heights.end());
    return *std::max_element(heights.begin(), heights.begin() + quarter) * 2 <= tallest &&
           *std::max_element(heights.end() - quarter, heights.end()) + 1 >= tallest;
}

// Whether a piece (`id` its label in `labels`) is a frame drawn around text
// (a button's outline, a box): clearly wider than high, nothing of its own
// inside its edges, and two pieces or more inside. A glyph that encloses
// others (「回」, 「國」) is about square; the light edge along a dark band
// is ink between the glyphs too. `own` gets its pixels within its box.
bool isFrame(const Piece &frame, const cv::Mat &labels, int id, const std::vector<Piece> &pieces, cv::Mat *own)
{
    if (frame.box.width * 2 < frame.box.height * 3)
        return false;
    *own = labels(frame.box) == id;
    const int edge = std::max(2, frame.box.height / 4);
    const cv::Rect inner(edge, edge, frame.box.width - 2 * edge, frame.box.height - 2 * edge);
    if (inner.width <= 0 || inner.height <= 0 || cv::countNonZero((*own)(inner)) * 50 > inner.area())
        return false;
    int inside = 0;
    for (const Piece &p : pieces)
        if (&p != &frame && (p.box & frame.box) == p.box && ++inside >= 2)
            return true;
    return false;
}

// Whether the ink in `inked` (how far each pixel stands out from the screen
// behind it) falls between two strokes, along a row or a column of its
// middle third, by kStrokeDip of the weaker stroke. A lens spreads a dense
// glyph's strokes over its gaps (「m」 at 14 pixels): its mask
// is solid, as an icon's is, but its ink is not even.
bool dipsBetweenStrokes(const cv::Mat &inked)
{
    const auto dips = [](const cv::Mat &line) {
        const int n = line.cols;
        std::vector<float> fromRight(size_t(n) + 1, 0.0F);
        for (int x = n - 1; x >= 0; --x)
            fromRight[size_t(x)] = std::max(fromRight[size_t(x) + 1], float(line.at<uchar>(0, x)));
        float fromLeft = 0.0F;
        for (int x = 0; x < n; ++x) {
            const float here = line.at<uchar>(0, x);
            const float weaker = std::min(fromLeft, fromRight[size_t(x) + 1]);
            if (weaker > 0 && here < (1.0 - kStrokeDip) * weaker)
                return true;
            fromLeft = std::max(fromLeft, here);
        }
        return false;
    };
    for (int y = inked.rows / 3; y < inked.rows - inked.rows / 3; ++y)
        if (dips(inked.row(y)))
            return true;
    const cv::Mat across = inked.t();
    for (int x = across.rows / 3; x < across.rows - across.rows / 3; ++x)
        if (dips(across.row(x)))
            return true;
    return false;
}

// The pieces of ink in `mask` that can be parts of glyphs; `marks` gets
// those too low to be (a long-vowel mark, a dash, a dot, a speck), `frames`
// (when there are any) the pixels of frames drawn around text. `inked`: how
// far each pixel stands out from the screen behind it.
std::vector<Piece> piecesOf(const cv::Mat &mask, const cv::Mat &inked, int highest, std::vector<Piece> *marks,
                            cv::Mat *frames)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    std::vector<Piece> pieces;
    std::vector<int> ids;
    for (int i = 1; i < count; ++i) {
        const cv::Rect box(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                           stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        const int pixels = stats.at<int>(i, cv::CC_STAT_AREA);
        if (box.height < kLowestPiece) {
            marks->push_back({box, pixels});
            continue;
        }
        if (box.height > highest)
            continue;
        // A solid block (an icon, a band's end) is no glyph; a stroke may be
        // solid (kStrokeAspect: a lens blurred an 「ｉ」's stem, four pixels
        // by eleven, solid, and 「info」 was read 「nfo」). A small one is a
        // dot, a mark (it was lost: a full-width dot starting a wrapped
        // line). Glyphs blurred solid are kept (「mail」 was read 「nail」).
        if (box.width * kStrokeAspect > box.height && box.height > box.width / 3 && pixels * 10 > box.area() * 9 &&
            !dipsBetweenStrokes(inked(box))) {
            if (box.height < 2 * kLowestPiece)
                marks->push_back({box, pixels});
            continue;
        }
        // A signal-strength sign is no text either (its bars run together
        // into one piece of ink, about half of its box).
        if (pixels * 5 > box.area() * 2 && isSignalSign(labels(box) == i))
            continue;
        pieces.push_back({box, pixels});
        ids.push_back(i);
    }
    // A frame is no glyph: it would set the line's height and be read with
    // it (the text inside was read as nothing). It is not read at all.
    std::vector<Piece> glyphs;
    for (size_t i = 0; i < pieces.size(); ++i) {
        cv::Mat own;
        if (!isFrame(pieces[i], labels, ids[i], pieces, &own)) {
            glyphs.push_back(pieces[i]);
            continue;
        }
        if (frames->empty())
            *frames = cv::Mat::zeros(mask.size(), CV_8U);
        (*frames)(pieces[i].box).setTo(255, own);
    }
    return glyphs;
}

// Whether a piece is thin: a stroke standing alone, or a rule.
bool isThin(const Piece &p)
{
    return p.box.height >= 4 * p.box.width;
}

// A line's pieces without the rules drawn beside its glyphs (a frame's side,
// a rule between columns): thin, and far taller than its glyphs (more than
// an ascender is taller than a small letter). A line of thin pieces alone
// (「川」, "111") keeps them.
std::vector<Piece> withoutRules(std::vector<Piece> pieces)
{
    int tallest = 0;
    for (const Piece &p : pieces)
        if (!isThin(p))
            tallest = std::max(tallest, p.box.height);
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                                [&](const Piece &p) { return tallest > 0 && isThin(p) && p.box.height * 10 > tallest * 17; }),
                 pieces.end());
    return pieces;
}

// How far apart two boxes lie side by side (0 when they overlap across).
int apartAcross(const cv::Rect &a, const cv::Rect &b)
{
    return std::max(0, std::max(a.x, b.x) - std::min(a.x + a.width, b.x + b.width));
}

// Whether ink in boxes `a` and `b`, whose tallest glyphs are `aTall` and
// `bTall` high, is one line's: about as high and centred alike (a piece of
// two lines run together joins neither: the lower more than five ninths of
// the taller, as a small letter is of a kanji; at half, such a piece twice
// a line's height joined the line above it).
bool isLevelWith(const cv::Rect &a, int aTall, const cv::Rect &b, int bTall)
{
    const int taller = std::max(aTall, bTall);
    const int lower = std::min(aTall, bTall);
    const int offCentre = std::abs((2 * a.y + a.height) - (2 * b.y + b.height)) / 2;
    return offCentre * 5 <= taller * 2 && lower * 9 >= taller * 5;
}

// The pieces that lie side by side at one height, joined into lines.
std::vector<std::vector<Piece>> joinedIntoLines(std::vector<Piece> pieces)
{
    std::sort(pieces.begin(), pieces.end(), [](const Piece &a, const Piece &b) { return a.box.x < b.box.x; });
    std::vector<int> root(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        root[i] = int(i);
    const auto find = [&](int i) {
        while (root[size_t(i)] != i)
            i = root[size_t(i)] = root[size_t(root[size_t(i)])];
        return i;
    };
    for (size_t i = 0; i < pieces.size(); ++i) {
        const cv::Rect &a = pieces[i].box;
        for (size_t j = i + 1; j < pieces.size(); ++j) {
            const cv::Rect &b = pieces[j].box;
            if (b.x > a.x + a.width + 2 * std::max(a.height, b.height))
                break; // further than two characters' space (a long-vowel mark is too low to be a piece)
            if (isLevelWith(a, a.height, b, b.height))
                root[size_t(find(int(j)))] = find(int(i));
        }
    }
    // Lines of letters set wide apart (full-width Latin letters: each in a
    // square cell, a dot in a cell of its own) are one line where their
    // pieces stand further apart than two of the small letters beside them:
    // such a line's letters up to its dot made a line of their own, sized
    // as if small letters were capitals and read as such (「user」 as
    // 「USGF」). So lines that lie level, their glyphs alike (isLevelWith), join
    // across a gap of up to kWideGap of their taller glyphs.
    struct Extent {
        int root = 0;
        cv::Rect box;
        int tallest = 0;
    };
    std::vector<Extent> extents;
    std::vector<int> extentOf(pieces.size(), -1);
    for (size_t i = 0; i < pieces.size(); ++i) {
        int &e = extentOf[size_t(find(int(i)))];
        if (e < 0) {
            e = int(extents.size());
            extents.push_back({find(int(i)), pieces[i].box, 0});
        }
        extents[size_t(e)].box |= pieces[i].box;
        extents[size_t(e)].tallest = std::max(extents[size_t(e)].tallest, pieces[i].box.height);
    }
    std::sort(extents.begin(), extents.end(), [](const Extent &a, const Extent &b) { return a.box.x < b.box.x; });
    int tallest = 0;
    for (const Extent &e : extents)
        tallest = std::max(tallest, e.tallest);
    for (size_t i = 0; i < extents.size(); ++i) {
        for (size_t j = i + 1; j < extents.size(); ++j) {
            Extent &left = extents[i];
            const Extent &right = extents[j];
            if (right.box.x > left.box.x + left.box.width + kWideGap * tallest)
                break;
            const int taller = std::max(left.tallest, right.tallest);
            const int gap = right.box.x - (left.box.x + left.box.width);
            if (gap < 0 || gap > kWideGap * taller || !isLevelWith(left.box, left.tallest, right.box, right.tallest) ||
                find(left.root) == find(right.root))
                continue;
            // The joined line reaches on to the right: what lies beyond it
            // is looked at from it.
            root[size_t(find(right.root))] = find(left.root);
            left.box |= right.box;
            left.tallest = taller;
        }
    }
    std::vector<std::vector<Piece>> lines(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        lines[size_t(find(int(i)))].push_back(pieces[i]);
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const auto &l) { return l.empty(); }), lines.end());
    return lines;
}

// Whether ink in `box` is shaped as a dot among glyphs `h` high: roundish,
// no larger than half a glyph.
bool isDotShaped(const cv::Rect &box, int h)
{
    return box.width * 2 <= h && box.height * 2 <= h && box.width <= 2 * box.height && box.height <= 2 * box.width;
}

// The box of an 「ｉ」 or a 「ｊ」 whose dot is the ink in `box`, when it is
// one, among `pieces` (a line's, its glyphs `h` high): dot-shaped
// (isDotShaped), just over a stroke no wider than half a glyph.
std::optional<cv::Rect> dotOverStem(const cv::Rect &box, const std::vector<Piece> &pieces, int h)
{
    if (!isDotShaped(box, h))
        return std::nullopt;
    for (const Piece &p : pieces) {
        const int gap = p.box.y - (box.y + box.height);
        if (p.box.width * 2 <= h && apartAcross(p.box, box) == 0 && gap >= -1 && gap <= h * kDotOverStem)
            return p.box | box;
    }
    return std::nullopt;
}

// Whether ink in `box` is a dot on `line`: roundish, no larger than half
// its glyphs, its foot on the line's foot (where a full-width dot and a
// period sit), or above it where the line's letters reach below their
// baseline; never further below the line's lowest ink than a camera's blur
// spreads it. Below it lies the next line's head: the dot of a 「ｊ」
// starting a close-set line below was taken for a period of the line above,
// which then held a row of another line and was read as nonsense.
bool isDotOf(const cv::Rect &box, const TextLine &line)
{
    const int h = line.glyphHeight;
    const double foot = line.middle.y + line.slant * (box.x - line.middle.x) + line.box.height / 2.0;
    const double below = box.y + box.height - foot;
    return isDotShaped(box, h) && below >= -h * 0.25 && below <= std::max(kDotBelowFoot, h * 0.1);
}

// Whether ink in `box` is a low line on `line` (「＿」): a flat stroke a
// third of a glyph wide or more, under the glyphs' lower half, no further
// below their foot than a dot may lie, and among or beside the glyphs (at
// most a glyph apart: it may end the line, in a full-width cell of its own).
bool isLowLineOf(const cv::Rect &box, const TextLine &line)
{
    const int h = line.glyphHeight;
    const double middle = line.middle.y + line.slant * (box.x + box.width / 2.0 - line.middle.x);
    const double foot = middle + line.box.height / 2.0;
    const double y = box.y + box.height / 2.0;
    return box.width * 3 >= h && box.height * 3 <= box.width && box.width <= 2 * h &&
           apartAcross(box, line.box) <= h && y > middle + h * 0.25 && y <= foot + std::max(kDotBelowFoot, h * 0.1);
}

// The ink in `box` brought to the contrast of `line`'s ink in `read` (from
// `gray`; `read` becomes a picture of its own first). A camera's blur
// spreads a one-pixel stroke and keeps half its contrast or less: a
// full-width low line between letters stayed a pale gray the recogniser
// passed over (「hanako＿01」 read 「hanako 01」), though as dark as the
// letters it is read.
void inkedLikeItsLine(const cv::Mat &gray, const cv::Rect &box, const TextLine &line, cv::Mat *read)
{
    const cv::Rect around = (box + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(0, 0, gray.cols, gray.rows);
    double darkest = 0, lightest = 0;
    cv::minMaxLoc(gray(around), &darkest, &lightest);
    const double peak = line.light ? lightest : darkest;
    const double own = peak - line.background;
    const double wanted = line.ink - line.background;
    // Only ever stronger, and at most so many times (noise is not a stroke);
    // never turned over (a stroke no darker than the line's background).
    if (own * wanted <= 0 || std::abs(own) >= std::abs(wanted) || std::abs(own) * kLowLineGain < std::abs(wanted))
        return;
    if (read->data == gray.data)
        *read = gray.clone();
    cv::Mat inked;
    gray(around).convertTo(inked, CV_8U, wanted / own, line.background * (1 - wanted / own));
    cv::Mat into = (*read)(around);
    if (line.light)
        cv::max(into, inked, into);
    else
        cv::min(into, inked, into);
}

} // namespace

double grayAt(double share, const cv::Mat &gray, const cv::Mat &mask)
{
    cv::Mat histogram;
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float *ranges[] = {range};
    cv::calcHist(&gray, 1, channels, mask, histogram, 1, bins, ranges);
    const double part = cv::sum(histogram)[0] * share;
    double seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram.at<float>(v);
        if (seen >= part)
            return v;
    }
    return 255;
}

namespace {

// `line` grown across over `columns` (its own height kept).
void growAcross(TextLine &line, const cv::Rect &columns)
{
    const cv::Point2d before = line.middle;
    line.box |= cv::Rect(columns.x, line.box.y, columns.width, line.box.height);
    line.middle.x = line.box.x + line.box.width / 2.0;
    line.middle.y = before.y + line.slant * (line.middle.x - before.x);
}

// A descender touching the glyph below it (lines set close, blurred by a
// camera) makes one piece of two lines, which joins neither: it makes a
// line of its own, as tall as the two together, from the top of one to the
// foot of the next (「yamada」 above 「@mail」: the y and the @ were lost, and
// the two lines, taken for marks of that piece, were read as one). Each of
// the two lines takes the piece's columns, and the piece's line goes.
std::vector<TextLine> withPiecesOfTwoLines(std::vector<TextLine> lines)
{
    std::vector<bool> gone(lines.size(), false);
    for (size_t t = 0; t < lines.size(); ++t) {
        const TextLine &tall = lines[t];
        // A glyph or two run together down: no wider than high (a kanji's
        // line, its roof and its foot lines of their own, is a line).
        if (tall.box.width > tall.glyphHeight)
            continue;
        const auto beside = [&](size_t i, bool top) {
            const TextLine &l = lines[i];
            const int h = l.glyphHeight;
            const int off = top ? tall.box.y - l.box.y : (tall.box.y + tall.box.height) - (l.box.y + l.box.height);
            return i != t && !gone[i] && l.light == tall.light && h * 5 <= tall.glyphHeight * 3 &&
                   std::abs(off) * 3 <= h && apartAcross(l.box, tall.box) <= 2 * h && l.box.width > tall.box.width;
        };
        std::optional<size_t> above, below;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (!above && beside(i, true))
                above = i;
            else if (!below && beside(i, false))
                below = i;
        }
        if (!above || !below || lines[*above].box.y + lines[*above].box.height > lines[*below].box.y + lines[*below].box.height / 2)
            continue;
        growAcross(lines[*above], tall.box);
        growAcross(lines[*below], tall.box);
        gone[t] = true;
    }
    std::vector<TextLine> kept;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!gone[i])
            kept.push_back(lines[i]);
    return kept;
}

} // namespace

std::vector<TextLine> textLines(const cv::Mat &gray, cv::Mat *read)
{
    *read = gray;
    cv::Mat smooth, around;
    cv::GaussianBlur(gray, smooth, cv::Size(3, 3), 0.0);
    cv::blur(smooth, around, cv::Size(kNeighbourhood, kNeighbourhood), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    const int highest = std::min(kHighestLine, gray.rows * 9 / 10);
    std::vector<TextLine> lines;
    for (const bool light : {false, true}) {
        cv::Mat difference, mask;
        if (light)
            cv::subtract(smooth, around, difference);
        else
            cv::subtract(around, smooth, difference);
        cv::threshold(difference, mask, kInkContrast, 255, cv::THRESH_BINARY);
        std::vector<Piece> marks;
        cv::Mat frames;
        const std::vector<Piece> found = piecesOf(mask, difference, highest, &marks, &frames);
        if (!frames.empty()) {
            if (read->data == gray.data)
                *read = gray.clone();
            around.copyTo(*read, frames);
        }
        for (const std::vector<Piece> &joined : joinedIntoLines(found)) {
            const std::vector<Piece> pieces = withoutRules(joined);
            TextLine line;
            line.light = light;
            std::vector<int> heights;
            double sumX = 0, sumY = 0, sumXX = 0, sumXY = 0, weight = 0;
            cv::Rect box = pieces.front().box;
            for (const Piece &p : pieces) {
                box |= p.box;
                heights.push_back(p.box.height);
                const double x = p.box.x + p.box.width / 2.0;
                const double y = p.box.y + p.box.height / 2.0;
                const double w = p.box.height;
                sumX += w * x, sumY += w * y, sumXX += w * x * x, sumXY += w * x * y, weight += w;
            }
            // The glyphs' height: that of the tallest piece (a kanji is
            // made of pieces of all sizes, a word of one size or two).
            line.glyphHeight = *std::max_element(heights.begin(), heights.end());
            if (box.height > highest || box.width < line.glyphHeight / 2)
                continue;
            // Slanted only when its box is clearly higher than its glyphs: a
            // word's ascenders and descenders alone make a slant of nothing.
            const double spread = sumXX - sumX * sumX / weight;
            if (pieces.size() >= 3 && spread > 0 && box.height * 10 > line.glyphHeight * 13)
                line.slant = std::clamp((sumXY - sumX * sumY / weight) / spread, -0.1, 0.1);
            line.middle = cv::Point2d(box.x + box.width / 2.0, box.y + box.height / 2.0);
            // A dash at either end of the line (「データー」's last long-vowel
            // mark) is part of it: flat, a third of a glyph wide or more
            // (not a speck of noise) but no wider than two, beside the
            // glyphs within their height. So are the strokes of 「二」 and
            // 「三」, each such a mark, at a wrapped line's start (held to the
            // glyphs' middle, 「二番三号」 was read 「:番三号」); a mark over
            // the glyphs, nearer their middle.
            const int h = line.glyphHeight;
            for (bool grown = true; grown;) {
                grown = false;
                for (const Piece &m : marks) {
                    const double middleY = m.box.y + m.box.height / 2.0;
                    const int apart = apartAcross(m.box, box);
                    if ((box & m.box) == m.box || m.box.width * 3 < h || m.box.width > 2 * h ||
                        m.box.height > m.box.width ||
                        std::abs(middleY - (line.middle.y + line.slant * (m.box.x - line.middle.x))) >
                            h * (apart > 0 ? kDashReach : kDashOver) ||
                        apart > h / 2)
                        continue;
                    box |= m.box;
                    grown = true;
                }
            }
            // The dot of an 「ｉ」 or a 「ｊ」 makes the glyphs higher
            // (kDottedHeightShare), and the line's picture, cut to their
            // height, holds it: a line of letters' middles and descenders
            // (「ｐ．ｃｏ．ｊｐ」 wrapped) reaches no higher than its middles; cut
            // there, its 「ｊ」 lost its dot, and sized by its descenders its
            // letters were read as capitals (「ＰＤ．ＣＯ．」Ｄ」). Its box stays
            // the glyphs' own: a dot starting the line is found by its foot.
            for (const Piece &m : marks)
                if (const std::optional<cv::Rect> glyph = dotOverStem(m.box, pieces, h))
                    line.glyphHeight = std::max(
                        line.glyphHeight, h + int(std::lround(kDottedHeightShare * (glyph->height - h))));
            line.box = box;
            // So is a dot at either end (two pixels across at least: not a
            // speck), on the line's foot: a full-width dot starting a
            // wrapped line stands a cell before the letters (「．ｃｏｍ」 was
            // read 「COm」).
            for (const Piece &m : marks)
                if (m.box.width >= 2 && m.box.height >= 2 && isDotOf(m.box, line) &&
                    apartAcross(m.box, line.box) <= kWideGap * h)
                    box |= m.box;
            line.box = box;
            // Ink is what stands out from the line's own background (the
            // most of its pixels): a light halo around dark glyphs is the
            // background itself. A blurred stroke is inked at its core.
            line.ink = grayAt(light ? 0.8 : 0.2, gray(box), mask(box));
            line.background = grayAt(0.5, gray(box));
            cv::Mat noInk;
            cv::bitwise_not(mask(box), noInk);
            line.plain = cv::countNonZero(noInk) >= box.area() * kPlainShare ? grayAt(0.5, gray(box), noInk)
                                                                              : line.background;
            if ((light ? line.ink - line.background : line.background - line.ink) < kInkContrast)
                continue;
            for (const Piece &m : marks)
                if (isLowLineOf(m.box, line)) {
                    inkedLikeItsLine(gray, m.box, line, read);
                    growAcross(line, m.box);
                }
            lines.push_back(line);
        }
    }
    lines = withPiecesOfTwoLines(std::move(lines));
    // Marks too small to join a line on their own (a long-vowel mark, the
    // roof of 「完」, a dot) join the line of taller glyphs they lie in.
    std::sort(lines.begin(), lines.end(),
              [](const TextLine &a, const TextLine &b) { return a.glyphHeight > b.glyphHeight; });
    std::vector<bool> taken(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (taken[i])
            continue;
        for (size_t j = i + 1; j < lines.size(); ++j) {
            TextLine &big = lines[i];
            const TextLine &small = lines[j];
            const int h = big.glyphHeight;
            const double middleY = small.box.y + small.box.height / 2.0;
            // A dot reaches further: a full-width dot at a wrapped line's
            // start stands a cell before the letters.
            const double reach = isDotOf(small.box, big) ? kWideGap * h : h;
            if (taken[j] || small.light != big.light || small.glyphHeight * 4 > big.glyphHeight * 3 ||
                std::abs(middleY - (big.middle.y + big.slant * (small.box.x - big.middle.x))) > h * 0.6 ||
                apartAcross(small.box, big.box) > reach)
                continue;
            big.box |= small.box;
            taken[j] = true;
        }
    }
    for (size_t i = lines.size(); i-- > 0;)
        if (taken[i])
            lines.erase(lines.begin() + std::ptrdiff_t(i));
    // Where lines of both polarities overlap, the holes inside glyphs were
    // taken for ink: the larger line is the text. Unless the smaller stands
    // out far more: below a dark band (a status bar) a light screen is
    // lighter than the band's gray beside it, and that halo, run together
    // with the halos around the glyphs, made a line a few levels lighter
    // than the screen that covered the lines of text below it (read as
    // nothing).
    const auto contrast = [](const TextLine &l) { return std::abs(l.ink - l.background); };
    std::vector<bool> inside(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = 0; j < lines.size(); ++j)
            if (i != j && lines[i].light != lines[j].light &&
                (lines[i].box & lines[j].box).area() * 2 > lines[i].box.area() &&
                lines[j].box.area() > lines[i].box.area())
                inside[contrast(lines[i]) > kOutstanding * contrast(lines[j]) ? j : i] = true;
    std::vector<TextLine> kept;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!inside[i])
            kept.push_back(lines[i]);
    // In reading order: top to bottom, left to right on one row.
    std::sort(kept.begin(), kept.end(), [](const TextLine &a, const TextLine &b) {
        const int aMiddle = a.box.y + a.box.height / 2;
        const int bMiddle = b.box.y + b.box.height / 2;
        if (aMiddle < b.box.y || bMiddle < a.box.y)
            return aMiddle < bMiddle;
        return a.box.x < b.box.x;
    });
    return kept;
}
