#pragma once

#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <opencv2/core/mat.hpp>

namespace tesseract {
class TessBaseAPI;
}

// Reads the text on a picture of a handset's screen with Tesseract
// (Japanese, which also reads Latin letters, digits and signs). The
// picture may be the screen itself or a camera's whole frame with the lit
// display on a dark desk: lines of text are found where they are (ink that
// stands out from its own neighbourhood, darker or lighter: a dark theme, a
// status bar), each straightened, turned dark on light and brought to the
// glyph height the recogniser reads best; a line in an 8-dot bitmap font
// is read by its dots instead (dotreader.h). Reading takes tens of
// milliseconds for a QVGA screen: one reader serves one thread, and
// callers read the newest frame whenever the previous reading is done.
class TextReader {
public:
    // When a reading is cut short: a busy picture can take seconds to read,
    // more than a wait has left. A reading cut short reads nothing.
    struct Limit {
        // Asked between words; true ends the reading.
        std::function<bool()> cancelled;
        // No reading goes on past this.
        std::optional<std::chrono::steady_clock::time_point> deadline;
    };

    TextReader();
    ~TextReader();
    TextReader(const TextReader &) = delete;
    TextReader &operator=(const TextReader &) = delete;

    // Loads the language data; false and errorText() (naming the languages
    // and the Debian packages that hold them) when it cannot.
    bool open();
    QString errorText() const { return errorText_; }

    // The text in `picture` (8-bit gray, BGR or BGRA), within `region` (in
    // the picture's pixels, clipped to it) when that is not empty; empty
    // when the region lies outside the picture. open() must have succeeded.
    // When `limit` cut the reading short: no value. `again`: how many times
    // the same screen (unchanged) was read before; each time its lines are
    // brought to another glyph height, as a line misread at one is often
    // read right at another, and some of those times each line is read
    // alone rather than beside the others. `glyphPixels`, when given, gets
    // the height of the lines' glyphs in the picture's pixels (the median
    // of the lines found; 0 when none were).
    std::optional<QString> read(const cv::Mat &picture, const QRect &region, const Limit &limit, int again = 0,
                                int *glyphPixels = nullptr);
    QString read(const cv::Mat &picture, const QRect &region = QRect());

    // The part of a `frame`-sized picture that `region` covers: all of it
    // for an empty region, empty when the region lies wholly outside.
    static QRect areaRead(const QSize &frame, const QRect &region);
    // Why `region` cannot be read in a `frame`-sized picture (empty when it
    // can), or, with `partly`, that only part of it can.
    static QString regionProblem(const QSize &frame, const QRect &region, bool *partly = nullptr);

    // The languages read, as Tesseract names them.
    static const char *languages();

    // A reader, opened, shared with the other screens of this program: a
    // recogniser takes a quarter of a second and some 35 MB to load, and
    // the machine reads no more at once than it has cores, so there are
    // as many readers as cores, handed out in turn (readings through one
    // reader take turns). Null and `error` when it cannot be opened.
    static std::shared_ptr<TextReader> shared(QString *error);

private:
    std::unique_ptr<tesseract::TessBaseAPI> api_;
    std::mutex reading_;
    QString errorText_;
};
