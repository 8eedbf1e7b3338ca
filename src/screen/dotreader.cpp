#include "screen/dotreader.h"

#include "screen/dotfont.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>
#include <utility>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// The dots' size is looked for between these shares of the tallest
// glyph's height: the tallest glyph of a line is 4 dots (lower-case
// letters) to 8 high.
constexpr double kFewestDots = 3.8;
constexpr double kMostDots = 8.2;
// The grid is looked for over this many pixels of a line at most.
constexpr size_t kSearched = 400;
// A line is on a grid of dots when its edges fall on the grid this much
// (1: every edge on a dot's edge; an outline font's glyphs, 0.1-0.3).
constexpr double kOnGrid = 0.5;
// Through a camera's blur a grid of dots fits less (0.15-0.3), as an
// outline font's edges do, but its fit stands out from that of the other
// periods: this many times their mean. Such a line is the font's only when
// every glyph of it, three or more, is read, no more than this many dots
// off on the average.
constexpr double kMarkedGrid = 2.5;
constexpr int kFewestGlyphs = 3;
constexpr double kWrongDotsBlurred = 1.5;
// A blurred line of fewer glyphs than this, on a grid of its own (no other
// line of the picture shares it), is little evidence of a grid: an outline
// font's 「info」 filmed at 29 pixels fell on one by chance (standing out
// 2.5-3 times, as blurred 8-dot lines do) and its glyphs came within
// 0.6-1.4 dots each of the font's (read 「infu」). Such a line is the
// font's only when its glyphs are read within this many dots each: the
// 8-dot font's own short lines through a camera, 0.01-0.19.
constexpr int kFewGlyphs = 6;
constexpr double kWrongDotsFew = 0.4;
// Such a line's first glyphs are read first, over this many dots across
// (three wide glyphs and some): where they are not all read, the line is
// not read further.
constexpr int kFirstDots = 26;
// A fit found on the coarse step is this share of the peak at least.
constexpr double kNearGrid = 0.8;
// A period is the best fit's multiple when their ratio lies within this
// share of a whole number.
constexpr double kHarmonic = 0.03;
// The lines of a picture share the size of their dots (a bitmap font's dot
// is one or more of the display's pixels) when their glyphs' heights lie
// within this ratio: found over all of them together, it is found where
// each line's edges through a camera's blur fit it too little to tell, or
// fit another size (at two pixels a dot, sizes 5-12 % off).
constexpr double kAlikeHeights = 1.3;
// Of such lines, the tallest holds a kana or kanji: 7 dots high, and half
// a dot to three more through a camera's blur. The display's own pixels fit
// a grid too under an outline font, two of them often as well as one
// (glyphs mostly 7-7.5 or 11-13 such dots high): a grid the lines share is
// taken only where their glyphs are as many dots high as an 8-dot font's.
constexpr std::pair<double, double> kTallestDots{7.5, 10.5};
// And where it stands out this many times the mean of the periods tried
// (a line's own, kMarkedGrid): an outline font's lines on the display's
// grid stood out 2.5-4 times, each then read dot by dot in about 2 ms; an
// 8-dot font's blurred lines 2.5-20 times, those below 3 read no better
// for it.
constexpr double kMarkedSharedGrid = 3.0;
// The dots of a blurred line are made sharper by this much (see
// sharpened()).
constexpr float kSharpening = 2.0f;
// A glyph is taken as read when no more than this many of its dots differ
// from the font's (8 dots wide, 4 dots wide) and no other glyph comes as
// near; a line is the font's when this share of its glyphs are read so.
constexpr double kWrongDots8 = 4.0;
constexpr double kWrongDots4 = 2.0;
constexpr double kMargin = 1.0;
constexpr double kReadShare = 0.7;
constexpr char32_t kUnread = 0xFFFD;
// A dot is taken as ink (to find the rows of the glyphs, and for the first
// sorting of the glyphs) from this much of ink: an isolated dot blurred by
// a camera keeps less than half.
constexpr float kInkDot = 0.4f;
// Rows of a neighbouring line's ink that a line's band may hold besides its
// own eight.
constexpr int kForeignRows = 2;

// A grid's period (pixels); how much of the strength of some edges falls on
// it, and that against the mean of the periods tried.
struct Period {
    double pitch = 0.0;
    double onGrid = 0.0;
    double standsOut = 0.0;
};

// A grid of dots across or down: their size and where an edge between two
// of them lies (pixels).
struct Grid {
    double pitch = 0.0;
    double edge = 0.0;
};

std::complex<double> combOf(const std::vector<double> &profile, double frequency)
{
    // The edge between pixels i and i + 1 lies at i + 1. Turned step by
    // step in plain arithmetic (a complex product checks for infinities).
    const double c = std::cos(2.0 * std::numbers::pi * frequency);
    const double s = std::sin(2.0 * std::numbers::pi * frequency);
    double re = c, im = s, sumRe = 0, sumIm = 0;
    for (const double strength : profile) {
        sumRe += strength * re;
        sumIm += strength * im;
        const double next = re * c - im * s;
        im = re * s + im * c;
        re = next;
    }
    return {sumRe, sumIm};
}

// The edges of a line's picture across (the strength of an edge between
// column i and i + 1 at i) and down.
struct LineEdges {
    std::vector<double> across;
    std::vector<double> down;
    // Where the line's picture starts across, in the picture it was cut from.
    double left = 0.0;
};

LineEdges edgesOf(const cv::Mat &ink, double left)
{
    LineEdges edges{std::vector<double>(size_t(std::max(0, ink.cols - 1))),
                    std::vector<double>(size_t(std::max(0, ink.rows - 1))), left};
    for (int y = 0; y < ink.rows; ++y)
        for (int x = 0; x < ink.cols; ++x) {
            const float v = ink.at<float>(y, x);
            if (x + 1 < ink.cols)
                edges.across[size_t(x)] += std::abs(ink.at<float>(y, x + 1) - v);
            if (y + 1 < ink.rows)
                edges.down[size_t(y)] += std::abs(ink.at<float>(y + 1, x) - v);
        }
    return edges;
}

// How much of the strength of the edges in some profiles (across and down,
// of one line or of several) falls on the grid of a frequency. Profiles
// added together lie on one grid where each starts (`at`, pixels): their
// edges are summed as one profile's.
struct Edges {
    struct Profile {
        const std::vector<double> *edges;
        double at;
    };
    std::vector<std::vector<Profile>> together;
    double total = 0.0;

    void add(const std::vector<double> &profile) { together.push_back({{&profile, 0.0}}); count(profile); }
    void addTogether(const std::vector<Profile> &profiles)
    {
        together.push_back(profiles);
        for (const Profile &p : profiles)
            count(*p.edges);
    }

    double fitAt(double frequency) const
    {
        double on = 0.0;
        for (const std::vector<Profile> &profiles : together) {
            std::complex<double> sum;
            for (const Profile &p : profiles)
                sum += combOf(*p.edges, frequency) * std::polar(1.0, 2.0 * std::numbers::pi * frequency * p.at);
            on += std::abs(sum);
        }
        return on / total;
    }

private:
    void count(const std::vector<double> &profile) { total += std::accumulate(profile.begin(), profile.end(), 0.0); }
};

// The dots' size (pixels) that the edges of `lines` share (one line's, or
// several lines' of one picture), of the periods between `shortest` and
// `longest`: how much of the edges' strength falls on its grid, and that
// against the mean of the periods tried. The half of a grid's period fits
// its edges as well: the longest period that fits nearly as well as the
// best, and of which the best is a harmonic, is the dots' size. Zero when
// no period is near a grid's fit.
Period periodOf(const std::vector<const LineEdges *> &lines, double shortest, double longest)
{
    // The fit on a coarse step first, over each line's first kSearched
    // pixels (a wide line's search would grow with its width squared), then
    // each peak near the best taken to a tenth of a step over the whole
    // lines (where a dot's edge at a line's far end falls within a few
    // hundredths of a dot): a peak between two steps is no lower than it
    // is. A grid finer than the pixels' is theirs: no period under one.
    std::vector<std::vector<double>> heads;
    heads.reserve(lines.size());
    size_t longestProfile = 0;
    for (const LineEdges *line : lines) {
        heads.emplace_back(line->across.begin(),
                           line->across.begin() + std::ptrdiff_t(std::min<size_t>(line->across.size(), kSearched)));
        longestProfile = std::max({longestProfile, heads.back().size(), line->down.size()});
    }
    // Across, the lines lie on the display's one grid: their edges are
    // summed where each line starts. Down, a line's own edges are fitted,
    // but not several lines' together: a line is a few dots high, and its
    // fit changes little from period to period; summed over the lines, those
    // fits raised every period near the dots' size alike, and the grid stood
    // out half as much.
    Edges whole, coarse;
    std::vector<Edges::Profile> across, acrossHeads;
    for (size_t i = 0; i < lines.size(); ++i) {
        across.push_back({&lines[i]->across, lines[i]->left});
        acrossHeads.push_back({&heads[i], lines[i]->left});
        if (lines.size() == 1) {
            whole.add(lines[i]->down);
            coarse.add(lines[i]->down);
        }
    }
    whole.addTogether(across);
    coarse.addTogether(acrossHeads);
    if (whole.total <= 0 || coarse.total <= 0 || longestProfile == 0)
        return {};
    const double step = 0.25 / double(longestProfile);
    std::vector<std::pair<double, double>> fits; // (frequency, share on the grid)
    double coarseBest = 0;
    for (double f = 1.0 / longest; f <= 1.0 / std::max(1.0, shortest); f += step) {
        fits.emplace_back(f, coarse.fitAt(f));
        coarseBest = std::max(coarseBest, fits.back().second);
    }
    if (fits.empty())
        return {};
    double mean = 0;
    for (const auto &f : fits)
        mean += f.second;
    mean /= double(fits.size());
    // No period near a grid's fit (most lines, in outline fonts): not
    // looked at closer.
    if (coarseBest < kNearGrid * kOnGrid && coarseBest < kNearGrid * kMarkedGrid * mean)
        return {};
    std::vector<std::pair<double, double>> peaks;
    double best = 0;
    double bestFrequency = 0;
    for (size_t i = 0; i < fits.size(); ++i) {
        const bool peak = (i == 0 || fits[i - 1].second <= fits[i].second) &&
                          (i + 1 == fits.size() || fits[i + 1].second <= fits[i].second);
        if (!peak || fits[i].second < 0.6 * coarseBest)
            continue;
        std::pair<double, double> top(fits[i].first, whole.fitAt(fits[i].first));
        for (double f = fits[i].first - step; f <= fits[i].first + step; f += step / 10) {
            const double here = whole.fitAt(f);
            if (here > top.second)
                top = {f, here};
        }
        peaks.push_back(top);
        if (top.second >= best) {
            best = top.second;
            bestFrequency = top.first;
        }
    }
    // The best fit, or the longest period that fits nearly as well of
    // which the best is a harmonic (a half, a third). Through a camera's
    // blur many periods fit nearly as well, and the longest of them was
    // 1.4 to 1.6 times the dots' size.
    for (const auto &[f, share] : peaks) {
        const double times = bestFrequency / f;
        if (share >= 0.8 * best && std::abs(times - std::round(times)) <= kHarmonic * std::round(times))
            return {1.0 / f, share, coarse.fitAt(f) / mean};
    }
    return {};
}

// The grid of `pitch` that the edges of `edges` fall on, across and down.
std::pair<Grid, Grid> gridOf(const LineEdges &edges, const Period &period)
{
    const double frequency = 1.0 / period.pitch;
    const auto edgeOf = [&](const std::vector<double> &profile) {
        double phase = std::arg(combOf(profile, frequency)) / (2.0 * std::numbers::pi);
        return (phase - std::floor(phase)) / frequency;
    };
    return {Grid{period.pitch, edgeOf(edges.across)}, Grid{period.pitch, edgeOf(edges.down)}};
}

// The dots of `ink` (1 ink, 0 background) on the grid, column by column.
struct Dots {
    // How much of ink each dot is: 0 to 1.
    std::vector<std::array<float, 16>> columns;
    int rows = 0;
    // Where the first row's square starts, and the squares' size (pixels).
    double top = 0.0;
    double pitch = 0.0;
    // The middle of row `r`, in the picture's pixels.
    double rowMiddle(int r) const { return top + (r + 0.5) * pitch - 0.5; }
};

Dots dotsOf(const cv::Mat &ink, const Grid &across, const Grid &down)
{
    const double p = across.pitch;
    const double left = across.edge - p * std::ceil(across.edge / p);
    const double top = down.edge - p * std::ceil(down.edge / p);
    const int columns = int((ink.cols - left) / p);
    const int rows = std::min(16, int((ink.rows - top) / p));
    // Each dot by the middle of its square, between the pixels there (a
    // dot two pixels wide is their mean). Smoothed first, an isolated dot
    // through a camera kept less than half of its ink.
    Dots dots;
    dots.rows = rows;
    dots.top = top;
    dots.pitch = p;
    dots.columns.resize(size_t(std::max(0, columns)));
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            const double x = left + (c + 0.5) * p - 0.5;
            const double y = dots.rowMiddle(r);
            const int x0 = std::clamp(int(std::floor(x)), 0, ink.cols - 1);
            const int y0 = std::clamp(int(std::floor(y)), 0, ink.rows - 1);
            const int x1 = std::min(x0 + 1, ink.cols - 1);
            const int y1 = std::min(y0 + 1, ink.rows - 1);
            const double fx = std::clamp(x - x0, 0.0, 1.0);
            const double fy = std::clamp(y - y0, 0.0, 1.0);
            const double v = (1 - fy) * ((1 - fx) * ink.at<float>(y0, x0) + fx * ink.at<float>(y0, x1)) +
                             fy * ((1 - fx) * ink.at<float>(y1, x0) + fx * ink.at<float>(y1, x1));
            dots.columns[size_t(c)][size_t(r)] = float(std::clamp(v, 0.0, 1.0));
        }
    return dots;
}

// The dots made sharper: each less `k` times the mean of its four
// neighbours' difference from it. A camera's blur about the size of a dot
// takes ink from a lone dot and spreads it to its neighbours: at 2 to 3
// pixels a dot, 4 to 10 of a glyph's dots were off, and a line of ten
// glyphs was seldom read whole.
Dots sharpened(const Dots &dots, float k)
{
    Dots out = dots;
    const int n = int(dots.columns.size());
    auto at = [&](int c, int r) {
        return c < 0 || c >= n || r < 0 || r >= dots.rows ? 0.0f : dots.columns[size_t(c)][size_t(r)];
    };
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < dots.rows; ++r) {
            const float v = at(c, r);
            const float around = (at(c - 1, r) + at(c + 1, r) + at(c, r - 1) + at(c, r + 1)) / 4.0f;
            out.columns[size_t(c)][size_t(r)] = std::clamp(v + k * (v - around), 0.0f, 1.0f);
        }
    return out;
}

// The glyphs within this many dots of the nearest, taken so, are weighed
// by how much of ink each dot is.
constexpr int kCloseDots = 3;

// How wrong a dot is that lies `off` (0 to 1) from the glyph's: a camera's
// noise and a neighbour's blur count for nothing, a dot halfway for half.
double wrongness(float off)
{
    return std::clamp((off - 0.2) / 0.6, 0.0, 1.0);
}

// How many dots each of `glyphs` differs from `dots` in, into `off`: the
// most of a reading's time, with the processor's own bit count where it
// has one (x86-64 since 2008), chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("popcnt", "default")))
#endif
void dotsOff(std::uint64_t dots, const std::vector<DotGlyph> &glyphs, std::uint8_t *off)
{
    for (size_t i = 0; i < glyphs.size(); ++i)
        off[i] = std::uint8_t(std::popcount(dots ^ glyphs[i].dots));
}

// The nearest glyph of a width to some dots (how far: the sum over the
// dots of how far each is from the glyph's), and how near the next is.
struct Nearest {
    const DotGlyph *glyph = nullptr;
    double wrong = 64;
    double next = 64;
};

Nearest nearestOf(const std::array<float, 64> &ink, int width, const std::vector<DotGlyph> &glyphs)
{
    std::uint64_t taken = 0;
    for (int r = 0; r < 8; ++r)
        for (int j = 0; j < width; ++j)
            if (ink[size_t(r * 8 + j)] >= kInkDot)
                taken |= std::uint64_t(1) << (r * 8 + j);
    thread_local std::vector<std::uint8_t> off;
    off.resize(glyphs.size());
    dotsOff(taken, glyphs, off.data());
    const int nearest = off.empty() ? 64 : *std::min_element(off.begin(), off.end());
    Nearest n;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const DotGlyph &g = glyphs[i];
        if (off[i] > nearest + kCloseDots)
            continue;
        double wrong = 0;
        for (int r = 0; r < 8; ++r)
            for (int j = 0; j < width; ++j) {
                const float v = ink[size_t(r * 8 + j)];
                wrong += wrongness((g.dots >> (r * 8 + j) & 1) ? 1.0f - v : v);
            }
        if (wrong < n.wrong) {
            n.next = n.wrong;
            n.wrong = wrong;
            n.glyph = &g;
        } else if (wrong < n.next) {
            n.next = wrong;
        }
    }
    return n;
}

struct Reading {
    QString text;
    double cost = std::numeric_limits<double>::infinity();
    int glyphs = 0;
    int read = 0;
};

// The glyphs of `font` that the dots' rows from `firstRow` are made of: the
// fewest wrong dots over the line, each column either blank or part of a
// glyph (ink in a column that is no glyph's counts as wrong).
Reading readRows(const Dots &dots, int firstRow, const DotFont &font)
{
    const int n = int(dots.columns.size());
    std::vector<std::array<float, 8>> column(size_t(n) + 8);
    std::vector<float> inkOf(size_t(n) + 8, 0.0f);
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < 8; ++r) {
            const float v = firstRow + r < dots.rows ? dots.columns[size_t(c)][size_t(firstRow + r)] : 0.0f;
            column[size_t(c)][size_t(r)] = v;
            inkOf[size_t(c)] += v;
        }
    struct Step {
        double cost = std::numeric_limits<double>::infinity();
        int from = -1;
        Nearest glyph;
    };
    std::vector<Step> best(size_t(n) + 1);
    best[0].cost = 0;
    for (int c = 0; c < n; ++c) {
        if (!std::isfinite(best[size_t(c)].cost))
            continue;
        const double here = best[size_t(c)].cost;
        double blank = here;
        for (float v : column[size_t(c)])
            blank += wrongness(v);
        if (blank < best[size_t(c) + 1].cost)
            best[size_t(c) + 1] = {blank, c, {}};
        for (int width : {4, 8}) {
            bool inked = false;
            std::array<float, 64> ink{};
            for (int j = 0; j < width; ++j) {
                inked = inked || inkOf[size_t(c + j)] >= kInkDot;
                for (int r = 0; r < 8; ++r)
                    ink[size_t(r * 8 + j)] = column[size_t(c + j)][size_t(r)];
            }
            if (!inked)
                continue;
            const Nearest near = nearestOf(ink, width, width == 4 ? font.narrow : font.wide);
            const int end = std::min(n, c + width);
            // A little for each glyph: of two readings as near, the one of
            // fewer glyphs.
            const double cost = here + near.wrong + 0.01;
            if (near.glyph && cost < best[size_t(end)].cost)
                best[size_t(end)] = {cost, c, near};
        }
    }
    Reading reading;
    reading.cost = best[size_t(n)].cost;
    std::vector<char32_t> characters;
    int blanks = 0;
    for (int c = n; c > 0;) {
        const Step &s = best[size_t(c)];
        if (s.glyph.glyph) {
            const double allowed = s.glyph.glyph->width == 4 ? kWrongDots4 : kWrongDots8;
            const bool sure = s.glyph.wrong <= allowed && s.glyph.next >= s.glyph.wrong + kMargin;
            if (blanks >= 4 && !characters.empty())
                characters.push_back(U' ');
            characters.push_back(sure ? s.glyph.glyph->character : kUnread);
            ++reading.glyphs;
            reading.read += sure ? 1 : 0;
            blanks = 0;
        } else {
            ++blanks;
        }
        c = s.from;
    }
    std::reverse(characters.begin(), characters.end());
    reading.text = QString::fromUcs4(characters.data(), qsizetype(characters.size()));
    return reading;
}

// The sizes of dots looked for in a line of glyphs `glyphHeight` high.
double shortestDots(int glyphHeight)
{
    return (glyphHeight - 2) / kMostDots;
}

double longestDots(int glyphHeight)
{
    return (glyphHeight + 1) / kFewestDots;
}

// A line's picture as ink (1) on background (0), and its edges.
struct DotLine {
    cv::Mat band;
    int glyphHeight = 0;
    cv::Mat ink;
    LineEdges edges;
};

DotLine dotLine(const cv::Mat &band, int glyphHeight, int left)
{
    DotLine line{band, glyphHeight, cv::Mat(), {}};
    band.convertTo(line.ink, CV_32F, -1.0 / 255.0, 1.0);
    line.edges = edgesOf(line.ink, left);
    return line;
}

// `line` read by its dots: of their own size where the line's edges fall on
// a grid sharply, else of the size `shared` that the picture's lines of
// glyphs about as high share (0: none), else of their own where that
// stands out.
std::optional<QString> readLine(const DotLine &line, double shared)
{
    const std::vector<DotFont> &fonts = installedDotFonts();
    const cv::Mat &band = line.band;
    const cv::Mat &ink = line.ink;
    const int glyphHeight = line.glyphHeight;
    if (fonts.empty() || band.empty() || glyphHeight < 4)
        return std::nullopt;
    Period period = periodOf({&line.edges}, shortestDots(glyphHeight), longestDots(glyphHeight));
    if (shared > 0 && period.onGrid < kOnGrid) {
        // The line's own fit on the shared grid tells whether its dots are
        // sharp.
        Edges own;
        own.add(line.edges.across);
        own.add(line.edges.down);
        if (own.total <= 0)
            return std::nullopt;
        period = {shared, own.fitAt(1.0 / shared), kMarkedGrid};
    }
    const bool blurred = period.onGrid < kOnGrid;
    if (period.pitch <= 0 || (blurred && period.standsOut < kMarkedGrid))
        return std::nullopt;
    const auto [columns, rows] = gridOf(line.edges, period);
    const Dots dots = blurred ? sharpened(dotsOf(ink, columns, rows), kSharpening) : dotsOf(ink, columns, rows);
    // The line's own rows of dots: those of its glyphs, in the band's
    // middle, a dot either way. The band's margin may hold the foot of the
    // line above or the head of the one below, where lines are set close
    // (a handset's typed text, a glyph's blank row apart): taken in, no
    // eight rows held the line, and it was not read by its dots.
    const double lowest = (band.rows - glyphHeight) / 2.0 - dots.pitch;
    const double highest = (band.rows + glyphHeight) / 2.0 + dots.pitch;
    int first = -1, last = -1;
    for (int r = 0; r < dots.rows; ++r) {
        const double middle = dots.rowMiddle(r);
        if (middle < lowest || middle > highest)
            continue;
        for (const auto &column : dots.columns)
            if (column[size_t(r)] >= kInkDot) {
                first = first < 0 ? r : first;
                last = r;
                break;
            }
    }
    if (first < 0 || last - first > 7 + kForeignRows)
        return std::nullopt;
    // The glyphs' eight rows: wherever the line's ink fits in them, or,
    // where a neighbour's ink is left at the band's edge, within the ink.
    const auto readAll = [&](const Dots &these) {
        Reading best;
        for (const DotFont &font : fonts) {
            for (int top = std::max(0, std::min(first, last - 7)); top <= std::max(first, last - 7); ++top) {
                Reading reading = readRows(these, top, font);
                if (reading.cost < best.cost)
                    best = std::move(reading);
            }
            // A line the first font reads less than half of is no 8-dot
            // font's (the fonts share most of their glyphs): the others are
            // not tried.
            if (best.read * 2 < best.glyphs)
                break;
        }
        return best;
    };
    // A blurred line is the font's only when every glyph of it is read: one
    // whose first glyphs (all but the last, which the cut may split) are
    // not is left there, at a fraction of the time of reading it all.
    if (blurred && dots.columns.size() > size_t(kFirstDots)) {
        Dots head = dots;
        head.columns.resize(size_t(kFirstDots));
        const Reading firstGlyphs = readAll(head);
        if (firstGlyphs.read + 1 < firstGlyphs.glyphs)
            return std::nullopt;
    }
    const Reading best = readAll(dots);
    if (best.glyphs == 0 || best.read < kReadShare * best.glyphs)
        return std::nullopt;
    if (blurred &&
        (best.read < best.glyphs || best.glyphs < kFewestGlyphs || best.cost > kWrongDotsBlurred * best.glyphs))
        return std::nullopt;
    if (blurred && shared <= 0 && best.glyphs < kFewGlyphs && best.cost > kWrongDotsFew * best.glyphs)
        return std::nullopt;
    return best.text;
}

} // namespace

std::optional<QString> readDots(const cv::Mat &band, int glyphHeight)
{
    return readLine(dotLine(band, glyphHeight, 0), 0.0);
}

std::vector<std::optional<QString>> readDotLines(const std::vector<DotBand> &bands)
{
    std::vector<DotLine> lines;
    lines.reserve(bands.size());
    for (const DotBand &band : bands)
        lines.push_back(dotLine(band.band, band.glyphHeight, band.left));
    // Lines of glyphs about as high, from the lowest up: each group's lines
    // share the size of their dots when, together, their edges fall on a
    // grid clearly.
    std::vector<size_t> order(lines.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return lines[a].glyphHeight < lines[b].glyphHeight; });
    std::vector<double> shared(lines.size(), 0.0);
    for (size_t first = 0; first < order.size();) {
        size_t last = first;
        while (last + 1 < order.size() &&
               lines[order[last + 1]].glyphHeight <= kAlikeHeights * lines[order[first]].glyphHeight)
            ++last;
        if (last > first && lines[order[first]].glyphHeight >= 4) {
            std::vector<const LineEdges *> edges;
            for (size_t i = first; i <= last; ++i)
                edges.push_back(&lines[order[i]].edges);
            const int tallest = lines[order[last]].glyphHeight;
            const Period together =
                periodOf(edges, shortestDots(lines[order[first]].glyphHeight), longestDots(tallest));
            const double dotsHigh = together.pitch > 0 ? tallest / together.pitch : 0.0;
            if (dotsHigh >= kTallestDots.first && dotsHigh <= kTallestDots.second &&
                (together.onGrid >= kOnGrid || together.standsOut >= kMarkedSharedGrid))
                for (size_t i = first; i <= last; ++i)
                    shared[order[i]] = together.pitch;
        }
        first = last + 1;
    }
    std::vector<std::optional<QString>> read;
    read.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        read.push_back(readLine(lines[i], shared[i]));
    return read;
}
