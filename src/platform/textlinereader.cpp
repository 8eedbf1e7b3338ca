#include "platform/textlinereader.h"

#include "platform/cp932.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace {
constexpr qint64 kChunk = 64 * 1024;

// The files that are no regular files, by path, as their first open read
// them.
struct KeptStreams {
    QMutex mutex;
    QHash<QString, QByteArray> contents;
};

KeptStreams &keptStreams()
{
    static KeptStreams streams;
    return streams;
}

// Reads `file`, open and no regular file, to its end; no value with `*error`
// set when it cannot be read or is too long to keep.
std::optional<QByteArray> readStream(QFile &file, QString *error)
{
    QByteArray bytes;
    for (;;) {
        const qsizetype old = bytes.size();
        bytes.resize(old + kChunk);
        const qint64 n = file.read(bytes.data() + old, kChunk);
        if (n < 0) {
            *error = file.errorString();
            return std::nullopt;
        }
        bytes.resize(old + n);
        if (n == 0)
            return bytes;
        if (bytes.size() > TextLineReader::kLongestStream) {
            *error = QStringLiteral("通常のファイルでない（パイプなど）ので全体を読んでおく必要がありますが、%1 MB を超えています。")
                         .arg(TextLineReader::kLongestStream / (1024 * 1024));
            return std::nullopt;
        }
    }
}
} // namespace

bool TextLineReader::open(const QString &path)
{
    close();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        const QFileInfo info(path);
        if (!info.exists())
            error_ = QStringLiteral("ファイルがありません。");
        else if (info.isDir())
            error_ = QStringLiteral("ファイルではなくフォルダーです。");
        else if (!info.isReadable())
            error_ = QStringLiteral("読み取りの権限がありません。");
        else
            error_ = file_.errorString();
        failed_ = true;
        return false;
    }
    if (!file_.isSequential())
        return true;
    // A pipe or the like: read it whole the first time, keep it for later.
    KeptStreams &streams = keptStreams();
    const QMutexLocker lock(&streams.mutex);
    if (const auto kept = streams.contents.constFind(path); kept != streams.contents.cend()) {
        file_.close();
        kept_ = *kept;
        return true;
    }
    std::optional<QByteArray> bytes = readStream(file_, &error_);
    file_.close();
    if (!bytes) {
        failed_ = true;
        return false;
    }
    streams.contents.insert(path, *bytes);
    kept_ = std::move(*bytes);
    return true;
}

void TextLineReader::close()
{
    file_.close();
    kept_.reset();
    keptPos_ = 0;
    buffer_.clear();
    pos_ = 0;
    scanned_ = 0;
    atEof_ = false;
    failed_ = false;
    linesRead_ = 0;
    error_.clear();
}

void TextLineReader::fill()
{
    if (!isOpen())
        atEof_ = true;
    if (atEof_ || failed_)
        return;
    if (pos_ > 0) {
        buffer_.remove(0, pos_);
        scanned_ -= pos_;
        pos_ = 0;
    }
    if (kept_) {
        const QByteArrayView more = QByteArrayView(*kept_).sliced(keptPos_).first(std::min<qsizetype>(kChunk, kept_->size() - keptPos_));
        buffer_ += more;
        keptPos_ += more.size();
        atEof_ = more.isEmpty();
        return;
    }
    const qsizetype old = buffer_.size();
    buffer_.resize(old + kChunk);
    const qint64 n = file_.read(buffer_.data() + old, kChunk);
    if (n < 0) {
        buffer_.resize(old);
        failed_ = true;
        error_ = file_.errorString();
        return;
    }
    buffer_.resize(old + n);
    if (n == 0)
        atEof_ = true;
}

bool TextLineReader::takeLine(QByteArrayView *line)
{
    const char *data = buffer_.constData();
    const qsizetype size = buffer_.size();
    for (qsizetype i = scanned_; i < size; ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r')
            continue;
        qsizetype next = i + 1;
        if (c == '\r') {
            if (next == size && !atEof_) {
                // A CR at the end of what was read: whether an LF follows is
                // decided by the next read.
                scanned_ = i;
                return false;
            }
            if (next < size && data[next] == '\n')
                ++next;
        }
        *line = QByteArrayView(data + pos_, i - pos_);
        pos_ = next;
        scanned_ = next;
        return true;
    }
    scanned_ = size;
    if (atEof_ && pos_ < size) {
        *line = QByteArrayView(data + pos_, size - pos_);
        pos_ = size;
        scanned_ = size;
        return true;
    }
    return false;
}

bool TextLineReader::nextLine(QByteArrayView *line)
{
    for (;;) {
        if (takeLine(line)) {
            ++linesRead_;
            return true;
        }
        if (atEof_ || failed_)
            return false;
        fill(); // more bytes, or the end of the file, or a read error
    }
}

std::optional<QByteArray> TextLineReader::readRawLine()
{
    QByteArrayView line;
    if (!nextLine(&line))
        return std::nullopt;
    return line.toByteArray();
}

std::optional<QString> TextLineReader::readLine()
{
    QByteArrayView line;
    if (!nextLine(&line))
        return std::nullopt;
    return decodeCp932(line);
}

qint64 TextLineReader::skipLines(qint64 count)
{
    qint64 skipped = 0;
    QByteArrayView line;
    while (skipped < count && nextLine(&line))
        ++skipped;
    return skipped;
}
