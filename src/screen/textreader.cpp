#include "screen/textreader.h"

#include "screen/matcher.h"

#include <QStringList>
#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <vector>

// The OpenMP runtime that Tesseract runs on (declared here: the compiler's
// OpenMP header is not needed for one call).
extern "C" void omp_set_max_active_levels(int levels);

namespace {

// Measured on the model handset's noisy frames (bench/run): enlarging the
// screen's small glyphs by half found the most; twice as much a little
// less, three times clearly less, and a black-and-white threshold less.
constexpr double kEnlargement = 1.5;
// Rows with fewer dark pixels than this are between lines.
constexpr int kInkPixelsInALine = 2;
// Space kept around a line, and between lines laid side by side, in pixels
// of the enlarged picture.
constexpr int kLineMargin = 6;
constexpr int kLineGap = 16;
// Fewer rows than this (of the enlarged picture) hold no line of text: the
// blurred edge of a dark band, a rule.
constexpr int kShortestLine = 8;
// Lines laid side by side make one reading no wider than this (pixels of
// the enlarged picture; a longer single line stays whole). The recogniser
// reads a line as one piece and asks whether to go on only between pieces:
// a busy 1080p frame laid out as one line took 13 s before a stop could
// cut it. A handset's screen in a camera's frame is far narrower than
// this, and read as before.
constexpr int kWidestReading = 4000;

cv::Mat grayOf(const cv::Mat &picture, const QRect &region)
{
    const QRect area = TextReader::areaRead(QSize(picture.cols, picture.rows), region);
    if (area.isEmpty())
        return cv::Mat();
    cv::Mat larger;
    cv::resize(toGray(picture(cv::Rect(area.x(), area.y(), area.width(), area.height()))), larger, cv::Size(),
               kEnlargement, kEnlargement, cv::INTER_CUBIC);
    return larger;
}

QString regionText(const QRect &r)
{
    return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The recogniser asks this between words.
bool cancelReading(void *limit, int)
{
    const auto *l = static_cast<const TextReader::Limit *>(limit);
    return (l->cancelled && l->cancelled()) || (l->deadline && std::chrono::steady_clock::now() >= *l->deadline);
}

// One line of text found in a picture: its pixels, dark on light, and
// whether it was light on dark (a status bar).
struct TextLine {
    cv::Mat pixels;
    bool turned = false;
};

// The lines of text in `gray`, each cut to its ink. Light text on a dark
// band (rows darker than the middle grey on the whole) is turned over first,
// so that all text is dark on light.
std::vector<TextLine> textLines(const cv::Mat &gray)
{
    cv::Mat rowMeans;
    cv::reduce(gray, rowMeans, 1, cv::REDUCE_AVG, CV_32F);
    cv::Mat upright = gray.clone();
    std::vector<bool> turned(static_cast<size_t>(gray.rows), false);
    for (int y = 0; y < gray.rows; ++y) {
        if (rowMeans.at<float>(y) < 128.0f) {
            cv::bitwise_not(upright.row(y), upright.row(y));
            turned[static_cast<size_t>(y)] = true;
        }
    }
    cv::Mat ink;
    cv::threshold(upright, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::Mat rows;
    cv::reduce(ink, rows, 1, cv::REDUCE_SUM, CV_32S);
    std::vector<TextLine> lines;
    int start = -1;
    for (int y = 0; y <= rows.rows; ++y) {
        // A line ends where the ink ends, or where a dark band begins or ends.
        const bool inked = y < rows.rows && rows.at<int>(y) > 255 * kInkPixelsInALine &&
                           (start < 0 || turned[static_cast<size_t>(y)] == turned[static_cast<size_t>(start)]);
        if (inked && start < 0)
            start = y;
        if (inked || start < 0)
            continue;
        const bool lineTurned = turned[static_cast<size_t>(start)];
        if (y - start < kShortestLine) {
            // The edge of a band, a rule, noise: no line of text.
            start = -1;
            continue;
        }
        int top = start;
        int bottom = y;
        for (int m = 0; m < kLineMargin && top > 0 && turned[static_cast<size_t>(top - 1)] == lineTurned; ++m)
            --top;
        for (int m = 0; m < kLineMargin && bottom < gray.rows && turned[static_cast<size_t>(bottom)] == lineTurned; ++m)
            ++bottom;
        start = -1;
        if (y < rows.rows && rows.at<int>(y) > 255 * kInkPixelsInALine)
            --y; // a band's edge cut an inked row: it starts the next line
        cv::Mat columns;
        cv::reduce(ink.rowRange(top, bottom), columns, 0, cv::REDUCE_SUM, CV_32S);
        int left = 0;
        int right = columns.cols - 1;
        while (left < right && columns.at<int>(left) == 0)
            ++left;
        while (right > left && columns.at<int>(right) == 0)
            --right;
        left = std::max(0, left - kLineMargin);
        right = std::min(columns.cols - 1, right + kLineMargin);
        lines.push_back({upright(cv::Range(top, bottom), cv::Range(left, right + 1)), lineTurned});
    }
    return lines;
}

// Lines laid side by side as one. A handset wraps a long text anywhere:
// read as one line, the recogniser has the whole text as context, and a
// line of one or two characters is not read alone (the comparison ignores
// line breaks anyway).
cv::Mat sideBySide(const std::vector<cv::Mat> &lines, const cv::Scalar &background)
{
    int height = 0;
    int width = 0;
    for (const cv::Mat &line : lines) {
        height = std::max(height, line.rows);
        width += line.cols + kLineGap;
    }
    cv::Mat one(height, width, CV_8U, background);
    int x = 0;
    for (const cv::Mat &line : lines) {
        line.copyTo(one(cv::Rect(x, (height - line.rows) / 2, line.cols, line.rows)));
        x += line.cols + kLineGap;
    }
    return one;
}

// The lines in groups that are read as one: lines of one text have one
// height and lie on one kind of band; a status bar, or a line of another
// size, starts a group of its own.
std::vector<cv::Mat> textGroups(const cv::Mat &gray)
{
    std::vector<cv::Mat> groups;
    std::vector<cv::Mat> group;
    const TextLine *first = nullptr;
    int width = 0;
    const std::vector<TextLine> lines = textLines(gray);
    const cv::Scalar background = cv::mean(gray);
    for (const TextLine &line : lines) {
        const bool sameKind = first && first->turned == line.turned &&
                              std::abs(line.pixels.rows - first->pixels.rows) * 4 <= first->pixels.rows &&
                              width + line.pixels.cols <= kWidestReading;
        if (!sameKind && !group.empty()) {
            groups.push_back(sideBySide(group, background));
            group.clear();
            width = 0;
        }
        if (!sameKind)
            first = &line;
        group.push_back(line.pixels);
        width += line.pixels.cols + kLineGap;
    }
    if (!group.empty())
        groups.push_back(sideBySide(group, background));
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
    return "jpn+eng";
}

bool TextReader::open()
{
    if (api_)
        return true;
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    if (api->Init(nullptr, languages(), tesseract::OEM_LSTM_ONLY) != 0) {
        errorText_ = QStringLiteral("文字を読むための言語データ（%1）を読み込めません。"
                                    "Debian では tesseract-ocr-jpn と tesseract-ocr-eng をインストールしてください。")
                         .arg(QString::fromLatin1(languages()));
        return false;
    }
    api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    // The recogniser's own notes ("Line cannot be recognized!!", "Empty
    // page!!") would land in the middle of a run's status line: they go
    // nowhere.
#ifdef Q_OS_WIN
    api->SetVariable("debug_file", "NUL");
#else
    api->SetVariable("debug_file", "/dev/null");
#endif
    api_ = std::move(api);
    return true;
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

std::optional<QString> TextReader::read(const cv::Mat &picture, const QRect &region, const Limit &limit)
{
    if (!api_ || picture.empty())
        return QString();
    // The recogniser's own threads cost three times the time on a busy
    // 2-core machine and take every core: reading one frame after another
    // on one thread keeps a wait for a text to one core.
    omp_set_max_active_levels(0);
    const cv::Mat gray = grayOf(picture, region);
    if (gray.empty())
        return QString();
    // The recogniser asks between words whether to go on.
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = cancelReading;
    monitor.cancel_this = const_cast<Limit *>(&limit);
    QStringList read;
    for (const cv::Mat &group : textGroups(gray)) {
        if (cancelReading(monitor.cancel_this, 0)) {
            api_->Clear();
            return std::nullopt;
        }
        api_->SetImage(group.data, group.cols, group.rows, 1, static_cast<int>(group.step));
        // The enlarged glyphs are about as large as print scanned at 300 dpi.
        api_->SetSourceResolution(300);
        if (limit.deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*limit.deadline -
                                                                                    std::chrono::steady_clock::now());
            monitor.set_deadline_msecs(static_cast<int32_t>(std::max<qint64>(1, left.count())));
        }
        // A reading cut short is not finished by asking for its text (that
        // would read the picture again, uncut).
        api_->Recognize(&monitor);
        if (cancelReading(monitor.cancel_this, 0) || monitor.deadline_exceeded()) {
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
