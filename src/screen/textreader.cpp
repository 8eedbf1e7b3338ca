#include "screen/textreader.h"

#include "macro/statement.h"
#include "screen/dotfont.h"
#include "screen/dotreader.h"
#include "screen/matcher.h"
#include "screen/textlines.h"

#include <QStringList>
#include <QThread>
#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <optional>
#include <vector>

// The OpenMP runtime that Tesseract runs on (declared here: the compiler's
// OpenMP header is not needed for one call).
extern "C" void omp_set_max_active_levels(int levels);

namespace {

// A picture whose steepest steps span this share of its contrast is
// sharper than a lens gives it, and is softened by a blur of kSoftening
// pixels before it is read (softenedIfSharp).
constexpr double kSharpStep = 0.7;
constexpr double kSoftening = 0.8;
// The picture the recogniser reads of a line goes from its ink (black) to
// its box's middle gray (white), but that gray is taken at least
// kLeastContrast of the way from the ink to the plain gray (TextLine::plain,
// the screen behind the glyphs). Through
// a lens, glyphs of about 15 frame pixels as dense as kanji spread over
// most of their box: stretched from the box's middle gray, the strokes'
// blurred edges went white and their cores black, and
// 「画面確認電話番号日本」 was read 「生万痛芝寺村呈日本」. Stretched from the
// plain gray, sharp glyphs lost the dark cores the recogniser reads best (7
// of 200 texts of characters at random fewer on the model's screen); held
// to 0.7 the model's screen reads as before. An 8-dot font's dots are read
// against the middle gray still: blurred, a blank dot between inked ones
// is about as dark.
constexpr double kLeastContrast = 0.7;
// The recogniser reads glyphs best at this height (pixels): measured on
// handsets' screens in five fonts, bare and filmed (bench/run, figure 10d).
constexpr int kGlyphPixels = 32;
// A screen read again (see TextReader::read) is read the next of these
// ways each time: its lines brought to another glyph height, and at the
// heights between the first four, each line read alone rather than laid
// side by side with the others (the recogniser reads a line by its
// context, and alone it has only its own). The same height with only a
// camera's new noise mostly misreads a line as before; another height
// reads it afresh. The heights, through a camera, found 157 texts of 192
// within a wait of 5 readings, where the same height every time found 149
// (bench/run, figure 10d, 48 screens of four fonts; other orders of the
// first five found 155-158), and 161 within 10 readings (the first five
// heights over again: 158). Lines read alone at the heights between, on
// 96 screens of four fonts: 336 of 384 within 5 readings and 345 within
// 20, where lines always side by side found 326 and 338 (alone at every
// height but the first: 330 and 339; at every other height: 330 and 345);
// on the bare screens 368 within 5 (365). A VL Gothic line of Latin
// letters among Japanese ones was read 「jp.net.0K6」 at every height.
// The first reading also closes up the cells of a line whose letters stand
// apart (see closedUp).
struct ReadingAgain {
    int glyphPixels;
    bool linesAlone;
    bool cellsClosed = false;
};
constexpr ReadingAgain kReadingsAgain[] = {{kGlyphPixels, false, true}, {40, false}, {24, false}, {48, false},
                                           {28, true},                  {36, true},  {44, true},  {26, true},
                                           {56, false},                 {30, true}};
// Glyphs this low (pixels) are a bitmap font's dots, or as small: enlarged
// dot by dot first, then smoothed, so that a dot stays a square.
constexpr int kDotGlyphs = 12;
// Through a lens a period, a comma or a colon's lower dot of a pixel or
// two keeps half its ink or less, and the recogniser took such a pale speck
// for the screen behind it: 「abc.host@ta」 at 15 frame pixels a glyph was
// read 「abc host@ta」 or 「abc_ host@ta」 on three cameras of four. In a
// line's picture as the recogniser is given it (ink 0, screen 255), a speck
// darker than kPaleSpeck whose darkest pixel is not yet kInkedSpeck, no
// larger than kSpeckShare of the glyphs' height either way, in the line's
// lower half, is brought to full ink (deepenSpecks). Through a camera, 340
// texts of 384 within a wait of 5 readings (before: 336), 346 within 20
// (345). Specks from 190 found 347 within 20 but fewer at the first
// reading, which sets a wait's reaction (286 of 384, against 289); specks
// anywhere in the line, no more than before within 5.
constexpr int kPaleSpeck = 160;
constexpr int kInkedSpeck = 40;
constexpr double kSpeckShare = 0.25;
// A handset shows typed letters, digits and signs full-width, each in a
// cell as wide as a kanji's, so that they stand half a glyph or more
// apart; the recogniser, which knows letters set close, read such a line
// of an address otherwise: 「ｕｓｅｒ．ｎａｍｅ１２３」 as 「usSer. name123」,
// 「．ｊｐ」 as 「. 」Dp」, through the model handset's camera. At a wait's
// first reading, a line in which kCellGaps blank gaps or more, and half its
// gaps at least, are wider than kCellGap of the glyphs' height (a column is
// blank where no pixel is darker than kPaleSpeck) is read with each such gap
// narrowed to kClosedGap (closedUp). Full-width letters stand 0.6-0.7 of
// their height apart; half-width letters of a fixed pitch (IPAGothic's)
// up to 0.4 beside an 「i」 or a period, and closed up from 0.3 the first
// reading of the camera set's bare screens found 333 texts of 384 instead
// of 340. Typed addresses through the model handset's camera, IPAGothic /
// VL Gothic, of 240: found at the first reading 160 / 181 (before: 90 /
// 171), within a wait of 5 readings 227 / 223 (212 / 224). Closed up at
// every reading, the addresses within a wait fell to 199 / 200: the later
// readings read otherwise what the first misread.
constexpr double kCellGap = 0.45;
constexpr double kClosedGap = 0.3;
constexpr int kCellGaps = 3;
// A line is the text of the line above wrapped (see isContinuedSmall) when
// its glyphs are lower than kLowerShare of the above's, but no lower than
// kLowestShare (a letter's middle is half to three quarters of a glyph's
// height), and its middle lies no further below the above's than
// kWrappedPitch times the above's glyphs' height.
constexpr double kLowerShare = 0.8;
constexpr double kLowestShare = 0.4;
constexpr double kWrappedPitch = 2.0;
// A line that ends within this many of its glyphs' height of the right
// margin (as wide as its left one) was wrapped there (see isWrappedFrom).
constexpr double kWrapReach = 1.5;
// Space kept around a line, and between lines laid side by side, as shares
// of the glyphs' height.
constexpr double kLineMargin = 0.3;
constexpr int kLineGap = 16;
// Lines laid side by side make one reading no wider than this (pixels; a
// longer single line stays whole). The recogniser reads a line as one
// piece and asks whether to go on only between pieces: a busy 1080p frame
// laid out as one line took 13 s before a stop could cut it.
constexpr int kWidestReading = 4000;

// Whether `limit` ends the reading now.
bool isCut(const TextReader::Limit &limit)
{
    return (limit.cancelled && limit.cancelled()) || (limit.deadline && std::chrono::steady_clock::now() >= *limit.deadline);
}

// The recogniser asks this between words.
bool cancelReading(void *limit, int)
{
    return isCut(*static_cast<const TextReader::Limit *>(limit));
}


// The margin kept around a line's picture (pixels).
int lineMargin(const TextLine &line)
{
    return int(std::ceil(line.glyphHeight * kLineMargin));
}

// The part of `gray` that the line's picture is cut from: the line with a
// margin around it.
cv::Rect aroundLine(const cv::Mat &gray, const TextLine &line)
{
    const int margin = lineMargin(line);
    return (line.box + cv::Size(2 * margin, 2 * margin) - cv::Point(margin, margin)) &
           cv::Rect(0, 0, gray.cols, gray.rows);
}

// The line's picture, upright, dark glyphs on a light background, with a
// margin around it (aroundLine()): its ink black, `white` (a gray of
// `gray`) white.
cv::Mat straightened(const cv::Mat &gray, const TextLine &line, double white)
{
    const int margin = lineMargin(line);
    const cv::Rect around = aroundLine(gray, line);
    // Straightened and cut to the glyphs' band: the middle of the line at
    // each column, from the slant. The line's middle at column x lies at
    // middleY + slant * (x - middleX) of the picture, and at the band's
    // middle row in the band.
    const double middleX = line.middle.x;
    const double middleY = line.middle.y;
    const int bandHeight =
        std::max(line.glyphHeight, int(line.box.height - std::abs(line.slant) * line.box.width)) + 2 * margin;
    const cv::Mat straighten = (cv::Mat_<double>(2, 3) << 1, 0, -around.x, -line.slant, 1,
                                bandHeight / 2.0 - middleY + line.slant * middleX);
    cv::Mat band;
    cv::warpAffine(gray, band, straighten, cv::Size(around.width, bandHeight), cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    // Ink to black, background to white, whichever the line's polarity.
    const double span = white - line.ink;
    band.convertTo(band, CV_8U, 255.0 / span, -255.0 * line.ink / span);
    return band;
}

// The gray of the line's picture that the recogniser is given as white
// (see kLeastContrast).
double recognisedWhite(const TextLine &line)
{
    const double least = line.ink + kLeastContrast * (line.plain - line.ink);
    return line.light ? std::min(line.background, least) : std::max(line.background, least);
}

// Pale specks in the lower half of `line` (a line's picture, glyphs
// `glyphPixels` high, ink 0) brought to full ink (see kPaleSpeck).
void deepenSpecks(cv::Mat &line, int glyphPixels)
{
    cv::Mat labels, boxes, centres;
    const int count = cv::connectedComponentsWithStats(line < kPaleSpeck, labels, boxes, centres, 8);
    const double largest = kSpeckShare * glyphPixels;
    for (int i = 1; i < count; ++i) {
        const cv::Rect box(boxes.at<int>(i, cv::CC_STAT_LEFT), boxes.at<int>(i, cv::CC_STAT_TOP),
                           boxes.at<int>(i, cv::CC_STAT_WIDTH), boxes.at<int>(i, cv::CC_STAT_HEIGHT));
        if (box.width > largest || box.height > largest || box.y < line.rows / 2)
            continue;
        double darkest = 0;
        cv::minMaxLoc(line(box), &darkest);
        if (darkest < kInkedSpeck)
            continue;
        // The speck and its blurred rim, stretched so that its darkest
        // pixel is ink.
        cv::Mat around = line((box + cv::Size(4, 4) - cv::Point(2, 2)) & cv::Rect(0, 0, line.cols, line.rows));
        around.convertTo(around, CV_8U, 255.0 / (255.0 - darkest), -255.0 * darkest / (255.0 - darkest));
    }
}

// `line` (a line's picture, glyphs `glyphPixels` high, ink 0) with its
// letters' cells closed up where they stand apart (see kCellGap); as it is
// otherwise. A gap narrowed keeps its columns nearest the ink before it.
cv::Mat closedUp(const cv::Mat &line, int glyphPixels)
{
    cv::Mat darkest;
    cv::reduce(line, darkest, 0, cv::REDUCE_MIN);
    const auto blank = [&](int x) { return darkest.at<uchar>(0, x) >= kPaleSpeck; };
    const int widest = int(kCellGap * glyphPixels);
    const int closedGap = int(kClosedGap * glyphPixels);
    // The blank gaps between the line's first ink and its last.
    int first = 0, last = line.cols - 1;
    while (first <= last && blank(first))
        ++first;
    while (last >= first && blank(last))
        --last;
    int gaps = 0, wide = 0, run = 0;
    for (int x = first; x <= last; ++x) {
        if (blank(x)) {
            ++run;
            continue;
        }
        gaps += run > 0 ? 1 : 0;
        wide += run > widest ? 1 : 0;
        run = 0;
    }
    if (wide < kCellGaps || 2 * wide < gaps)
        return line;
    std::vector<int> kept;
    run = 0;
    for (int x = 0; x < line.cols; ++x) {
        run = blank(x) ? run + 1 : 0;
        if (run <= closedGap)
            kept.push_back(x);
    }
    cv::Mat closed(line.rows, int(kept.size()), CV_8U);
    for (size_t i = 0; i < kept.size(); ++i)
        line.col(kept[i]).copyTo(closed.col(int(i)));
    return closed;
}

// The line's picture (straightened()) as the recogniser reads it: glyphs
// `glyphPixels` high, pale specks deepened (deepenSpecks).
cv::Mat prepared(const cv::Mat &band, const TextLine &line, int glyphPixels)
{
    const double scale = double(glyphPixels) / line.glyphHeight;
    cv::Mat sized;
    if (line.glyphHeight <= kDotGlyphs) {
        // Dot by dot, then smoothed: a bitmap font's dots stay squares
        // rather than blurring into one another.
        const int times = std::max(1, int(std::lround(scale)));
        cv::resize(band, sized, cv::Size(), times, times, cv::INTER_NEAREST);
        cv::GaussianBlur(sized, sized, cv::Size(0, 0), times / 3.0);
        if (std::abs(times - scale) > 0.5)
            cv::resize(sized, sized, cv::Size(), scale / times, scale / times, cv::INTER_AREA);
    } else {
        cv::resize(band, sized, cv::Size(), scale, scale, scale > 1 ? cv::INTER_CUBIC : cv::INTER_AREA);
    }
    deepenSpecks(sized, glyphPixels);
    return sized;
}

// Whether `line` starts where the line `above` does (within a glyph),
// just below it (within kWrappedPitch glyphs), in the same polarity:
// where a handset's wrapped text goes on.
bool startsUnder(const TextLine &above, const TextLine &line)
{
    const int h = above.glyphHeight;
    return line.light == above.light && std::abs(line.box.x - above.box.x) <= h && line.middle.y > above.middle.y &&
           line.middle.y - above.middle.y <= kWrappedPitch * h;
}

// Whether `line` goes on with the text of the line `above` in the same
// glyphs though its own are lower: a text wrapped where the rest holds no
// capital, digit or tall letter (「．ｃｏｍ」 after 「…＠ｍａｉｌ．ｅｘａｍｐｌｅ」).
// Such a line's glyphs are letters' middles, and brought to the height of
// whole glyphs they were read as capitals or a letter split in two
// (「ＣＯＴｍ」). It starts under the line above (startsUnder).
bool isContinuedSmall(const TextLine &above, const TextLine &line)
{
    return startsUnder(above, line) && line.glyphHeight < kLowerShare * above.glyphHeight &&
           line.glyphHeight >= kLowestShare * above.glyphHeight;
}

// Whether `line` goes on with the text of the line `above` wrapped: it
// starts under it (startsUnder), and that one reaches as near to the right
// edge of the picture (`width` pixels wide) as it starts from its left,
// within kWrapReach glyphs (a handset wraps a text where its next glyph no
// longer fits).
bool isWrappedFrom(const TextLine &above, const TextLine &line, int width)
{
    const int h = above.glyphHeight;
    return h > 0 && startsUnder(above, line) && above.box.x + above.box.width >= width - above.box.x - kWrapReach * h;
}

// Lines laid side by side as one. A handset wraps a long text anywhere:
// read as one line, the recogniser has the whole text as context, and a
// line of one or two characters is not read alone (the comparison ignores
// line breaks anyway).
cv::Mat sideBySide(const std::vector<cv::Mat> &lines)
{
    int height = 0;
    int width = 0;
    for (const cv::Mat &line : lines) {
        height = std::max(height, line.rows);
        width += line.cols + kLineGap;
    }
    cv::Mat one(height, width, CV_8U, cv::Scalar::all(255));
    int x = 0;
    for (const cv::Mat &line : lines) {
        line.copyTo(one(cv::Rect(x, (height - line.rows) / 2, line.cols, line.rows)));
        x += line.cols + kLineGap;
    }
    return one;
}

// `gray` softened as a lens would where it is sharper than any lens gives
// it (a screen capture, a display's own pixels): there a 「ｊ」's dot stands
// apart from its stem, and a line of 「ｊｐ」 after letters' middles was read
// 「」Dp」 at every glyph height; a camera's blur runs them together, and
// the line is read right. Sharp: the steepest step between neighbouring
// pixels (all but the steepest half per cent) spans kSharpStep of the
// picture's contrast or more (screen captures 0.85-0.95; noisy or filmed
// screens, made upright or not, 0.2-0.67).
cv::Mat softenedIfSharp(const cv::Mat &gray)
{
    if (gray.cols < 2 || gray.rows < 2)
        return gray;
    cv::Mat across, down;
    cv::absdiff(gray.colRange(1, gray.cols), gray.colRange(0, gray.cols - 1), across);
    cv::absdiff(gray.rowRange(1, gray.rows), gray.rowRange(0, gray.rows - 1), down);
    const double steep = std::max(grayAt(0.995, across), grayAt(0.995, down));
    const double contrast = grayAt(0.99, gray) - grayAt(0.01, gray);
    if (contrast < kInkContrast || steep < kSharpStep * contrast)
        return gray;
    cv::Mat soft;
    cv::GaussianBlur(gray, soft, cv::Size(0, 0), kSoftening);
    return soft;
}

// Lines read as one by the recogniser, or a line already read (by its
// dots, dotreader.h).
struct Group {
    cv::Mat picture;
    QString text;
};

// The lines in groups that are read as one, each group no wider than
// kWidestReading: a line of the other polarity (a status bar's light text
// on its dark band) starts a group of its own, and is printed as a line of
// its own. A line in an 8-dot font is read by its dots, alone. `way`:
// the glyph height the lines are brought to, and whether each line is a
// group of its own. No value when `limit` cut it short (asked between
// lines). `heights` gets each line's glyph height. The lines are found and
// read in `gray` softened where it is sharp (softenedIfSharp).
std::optional<std::vector<Group>> textGroups(const cv::Mat &gray, const TextReader::Limit &limit, ReadingAgain way,
                                             std::vector<int> *heights)
{
    const cv::Mat soft = softenedIfSharp(gray);
    std::vector<Group> groups;
    std::vector<cv::Mat> group;
    int width = 0;
    std::optional<TextLine> first;
    const auto close = [&] {
        if (!group.empty())
            groups.push_back({sideBySide(group), QString()});
        group.clear();
        width = 0;
    };
    cv::Mat read;
    // The line above, as the recogniser is given it (its glyphs' height;
    // 0: none).
    TextLine above;
    const std::vector<TextLine> lines = textLines(soft, &read);
    std::vector<DotBand> bands;
    for (const TextLine &line : lines)
        bands.push_back({straightened(read, line, line.background), line.glyphHeight, aroundLine(read, line).x});
    // Lines in an 8-dot font, read by their dots (all at once: they share
    // the dots' size).
    const std::vector<std::optional<QString>> dotted = readDotLines(bands);
    for (size_t i = 0; i < lines.size(); ++i) {
        const TextLine &line = lines[i];
        if (isCut(limit))
            return std::nullopt;
        heights->push_back(line.glyphHeight);
        if (std::optional<QString> dots = dotted[i]) {
            // Softened, a bitmap font's dots of a pixel each blur into one
            // another: read again sharp, the surer reading is kept.
            if (soft.data != gray.data && dots->contains(QChar::ReplacementCharacter))
                if (const std::optional<QString> sharp =
                        readDots(straightened(gray, line, line.background), line.glyphHeight);
                    sharp && sharp->count(QChar::ReplacementCharacter) < dots->count(QChar::ReplacementCharacter))
                    dots = sharp;
            close();
            groups.push_back({cv::Mat(), *dots});
            above = TextLine();
            continue;
        }
        TextLine sized = line;
        const bool continuedSmall = isContinuedSmall(above, line);
        if (continuedSmall)
            sized.glyphHeight = above.glyphHeight;
        // Read alone, a line is still read with the text it goes on with:
        // alone, a wrapped address's second line (「pP. co. jp」) lost the
        // context of its first, and the typed addresses through the model
        // handset's camera were found less often (VL Gothic 218 of 240
        // within a wait, against 224).
        const bool alone = way.linesAlone && !continuedSmall && !isWrappedFrom(above, line, gray.cols);
        above = sized;
        cv::Mat pixels = prepared(straightened(read, line, recognisedWhite(line)), sized, way.glyphPixels);
        if (way.cellsClosed)
            pixels = closedUp(pixels, way.glyphPixels);
        const bool sameKind = first && first->light == line.light;
        if (!group.empty() && (alone || !sameKind || width + pixels.cols > kWidestReading))
            close();
        if (group.empty())
            first = line;
        width += pixels.cols + kLineGap;
        group.push_back(std::move(pixels));
    }
    close();
    return groups;
}

} // namespace

TextReader::TextReader() = default;

TextReader::~TextReader()
{
    if (api_)
        api_->End();
}

const char *TextReader::languages()
{
    // Japanese alone: its data holds Latin letters, digits and signs too,
    // reads in half the time of Japanese and English together, and does
    // not take a bitmap font's kana for Latin letters (「アドレス帳」 was
    // read as FELERE with English beside it).
    return "jpn";
}

bool TextReader::open()
{
    if (api_)
        return true;
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    if (api->Init(nullptr, languages(), tesseract::OEM_LSTM_ONLY) != 0) {
        errorText_ = QStringLiteral("文字を読むための言語データ（%1）を読み込めません。"
                                    "Debian では tesseract-ocr-jpn をインストールしてください。")
                         .arg(QString::fromLatin1(languages()));
        return false;
    }
    api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    // Whether a line is set in a fixed pitch tells the line recogniser
    // nothing (it reads the line as a whole): the test took 4 % of a
    // reading, and the text read is the same without it.
    api->SetVariable("textord_disable_pitch_test", "1");
    // The recogniser's own notes ("Line cannot be recognized!!", "Empty
    // page!!") would land in the middle of a run's status line: they go
    // nowhere.
#ifdef Q_OS_WIN
    api->SetVariable("debug_file", "NUL");
#else
    api->SetVariable("debug_file", "/dev/null");
#endif
    // The 8-dot fonts' glyphs are drawn now, not at the first such line.
    installedDotFonts();
    api_ = std::move(api);
    return true;
}

std::shared_ptr<TextReader> TextReader::shared(QString *error)
{
    static std::mutex handing;
    static std::vector<std::weak_ptr<TextReader>> readers(std::max(1, QThread::idealThreadCount()));
    static std::size_t next = 0;
    const std::lock_guard lock(handing);
    std::weak_ptr<TextReader> &slot = readers[next++ % readers.size()];
    if (std::shared_ptr<TextReader> reader = slot.lock())
        return reader;
    auto reader = std::make_shared<TextReader>();
    if (!reader->open()) {
        *error = reader->errorText();
        return nullptr;
    }
    slot = reader;
    return reader;
}

QRect TextReader::areaRead(const QSize &frame, const QRect &region)
{
    const QRect whole(QPoint(0, 0), frame);
    return region.isEmpty() ? whole : region & whole;
}

QString TextReader::regionProblem(const QSize &frame, const QRect &region, bool *partly)
{
    const QRect area = areaRead(frame, region);
    if (partly)
        *partly = !region.isEmpty() && !area.isEmpty() && area != region;
    if (!area.isEmpty())
        return partly && *partly ? QStringLiteral("範囲 %1 の一部はフレーム（%2×%3）の外にあります（読んだのは %4）")
                                       .arg(regionText(region))
                                       .arg(frame.width())
                                       .arg(frame.height())
                                       .arg(regionText(area))
                                 : QString();
    return QStringLiteral("範囲 %1 がフレーム（%2×%3）の外にあるため、読めません。")
        .arg(regionText(region))
        .arg(frame.width())
        .arg(frame.height());
}

QString TextReader::read(const cv::Mat &picture, const QRect &region)
{
    return read(picture, region, Limit()).value_or(QString());
}

std::optional<QString> TextReader::read(const cv::Mat &picture, const QRect &region, const Limit &limit, int again,
                                        int *glyphPixels)
{
    if (glyphPixels)
        *glyphPixels = 0;
    if (!api_ || picture.empty())
        return QString();
    // The recogniser's own threads cost three times the time on a busy
    // 2-core machine and take every core: reading one frame after another
    // on one thread keeps a wait for a text to one core.
    omp_set_max_active_levels(0);
    const QRect area = areaRead(QSize(picture.cols, picture.rows), region);
    if (area.isEmpty())
        return QString();
    const cv::Mat gray = toGray(picture(cv::Rect(area.x(), area.y(), area.width(), area.height())));
    const ReadingAgain way = kReadingsAgain[size_t(std::max(0, again)) % std::size(kReadingsAgain)];
    std::vector<int> heights;
    const std::optional<std::vector<Group>> groups = textGroups(gray, limit, way, &heights);
    if (!groups)
        return std::nullopt;
    if (glyphPixels && !heights.empty()) {
        std::nth_element(heights.begin(), heights.begin() + std::ptrdiff_t(heights.size() / 2), heights.end());
        *glyphPixels = heights[heights.size() / 2];
    }
    const std::lock_guard lock(reading_);
    // The recogniser asks between words whether to go on.
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = cancelReading;
    monitor.cancel_this = const_cast<Limit *>(&limit);
    QStringList read;
    for (const Group &each : *groups) {
        if (isCut(limit)) {
            api_->Clear();
            return std::nullopt;
        }
        if (each.picture.empty()) {
            read.append(each.text);
            continue;
        }
        const cv::Mat &group = each.picture;
        api_->SetImage(group.data, group.cols, group.rows, 1, static_cast<int>(group.step));
        // The glyphs are about as large as print scanned at 300 dpi.
        api_->SetSourceResolution(300);
        if (limit.deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*limit.deadline -
                                                                                    std::chrono::steady_clock::now());
            monitor.set_deadline_msecs(static_cast<int32_t>(std::max<qint64>(1, left.count())));
        }
        // A reading cut short is not finished by asking for its text (that
        // would read the picture again, uncut).
        api_->Recognize(&monitor);
        if (isCut(limit) || monitor.deadline_exceeded()) {
            api_->Clear();
            return std::nullopt;
        }
        const std::unique_ptr<char[]> text(api_->GetUTF8Text());
        if (text)
            read.append(QString::fromUtf8(text.get()).trimmed());
    }
    api_->Clear();
    return read.join(u'\n');
}
