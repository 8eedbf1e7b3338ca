#include "screen/textreader.h"

#include <omp.h>
#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <vector>

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

cv::Mat grayOf(const cv::Mat &picture, const QRect &region)
{
    cv::Rect area(0, 0, picture.cols, picture.rows);
    if (!region.isEmpty())
        area &= cv::Rect(region.x(), region.y(), region.width(), region.height());
    if (area.empty())
        return cv::Mat();
    const cv::Mat part = picture(area);
    cv::Mat gray;
    if (part.channels() == 3)
        cv::cvtColor(part, gray, cv::COLOR_BGR2GRAY);
    else if (part.channels() == 4)
        cv::cvtColor(part, gray, cv::COLOR_BGRA2GRAY);
    else
        gray = part.clone();
    cv::Mat larger;
    cv::resize(gray, larger, cv::Size(), kEnlargement, kEnlargement, cv::INTER_CUBIC);
    return larger;
}

// The lines of text in `gray`, each cut to its ink, laid side by side as one
// line. A handset wraps a long text anywhere: read as one line, the
// recogniser has the whole text as context, and a line of one or two
// characters is not read alone (the comparison ignores line breaks anyway).
cv::Mat linesSideBySide(const cv::Mat &gray)
{
    cv::Mat ink;
    cv::threshold(gray, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::Mat rows;
    cv::reduce(ink, rows, 1, cv::REDUCE_SUM, CV_32S);
    std::vector<cv::Mat> lines;
    int start = -1;
    for (int y = 0; y <= rows.rows; ++y) {
        const bool inked = y < rows.rows && rows.at<int>(y) > 255 * kInkPixelsInALine;
        if (inked && start < 0)
            start = y;
        if (inked || start < 0)
            continue;
        const int top = std::max(0, start - kLineMargin);
        const int bottom = std::min(gray.rows, y + kLineMargin);
        start = -1;
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
        lines.push_back(gray(cv::Range(top, bottom), cv::Range(left, right + 1)));
    }
    if (lines.empty())
        return gray;
    int height = 0;
    int width = 0;
    for (const cv::Mat &line : lines) {
        height = std::max(height, line.rows);
        width += line.cols + kLineGap;
    }
    cv::Mat one(height, width, CV_8U, cv::mean(gray));
    int x = 0;
    for (const cv::Mat &line : lines) {
        line.copyTo(one(cv::Rect(x, (height - line.rows) / 2, line.cols, line.rows)));
        x += line.cols + kLineGap;
    }
    return one;
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
    api_ = std::move(api);
    return true;
}

QString TextReader::read(const cv::Mat &picture, const QRect &region)
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
    const cv::Mat line = linesSideBySide(gray);
    api_->SetImage(line.data, line.cols, line.rows, 1, static_cast<int>(line.step));
    // The enlarged glyphs are about as large as print scanned at 300 dpi.
    api_->SetSourceResolution(300);
    const std::unique_ptr<char[]> text(api_->GetUTF8Text());
    api_->Clear();
    return text ? QString::fromUtf8(text.get()).trimmed() : QString();
}
