#include "screen/picturedecode.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QtEndian>
#include <iostream>
#include <mutex>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <png.h>
#include <turbojpeg.h>

namespace {

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

bool isJpeg(const QByteArray &bytes)
{
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 && uchar(bytes[2]) == 0xFF;
}

bool isPng(const QByteArray &bytes)
{
    return bytes.startsWith(kPngSignature);
}

const uchar *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

quint32 littleEndian24(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16;
}

QSize bmpSize(const QByteArray &bytes)
{
    if (bytes.size() < 26 || !bytes.startsWith("BM"))
        return {};
    const uchar *p = bytesOf(bytes);
    // The oldest header holds 16-bit sizes, every later one 32-bit.
    if (qFromLittleEndian<quint32>(p + 14) == 12)
        return QSize(qFromLittleEndian<quint16>(p + 18), qFromLittleEndian<quint16>(p + 20));
    const qint64 height = qFromLittleEndian<qint32>(p + 22);
    return QSize(qFromLittleEndian<qint32>(p + 18), int(std::min<qint64>(std::abs(height), INT_MAX)));
}

QSize webpSize(const QByteArray &bytes)
{
    if (bytes.size() < 30 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP")
        return {};
    const uchar *p = bytesOf(bytes);
    const QByteArray chunk = bytes.mid(12, 4);
    if (chunk == "VP8X")
        return QSize(int(littleEndian24(p + 24) + 1), int(littleEndian24(p + 27) + 1));
    if (chunk == "VP8L" && p[20] == 0x2F)
        return QSize(1 + (p[21] | (p[22] & 0x3F) << 8), 1 + (p[22] >> 6 | p[23] << 2 | (p[24] & 0x0F) << 10));
    if (chunk == "VP8 ")
        return QSize(qFromLittleEndian<quint16>(p + 26) & 0x3FFF, qFromLittleEndian<quint16>(p + 28) & 0x3FFF);
    return {};
}

struct JpegHandle {
    tjhandle handle = tjInitDecompress();
    ~JpegHandle()
    {
        if (handle)
            tjDestroy(handle);
    }
};

QSize jpegSize(JpegHandle &jpeg, const QByteArray &bytes, int *colorspace = nullptr)
{
    int width = 0, height = 0, subsampling = 0, space = 0;
    // A warning (stray bytes before a marker) still gives the size.
    if (!jpeg.handle ||
        (tjDecompressHeader3(jpeg.handle, bytesOf(bytes), static_cast<unsigned long>(bytes.size()), &width, &height,
                             &subsampling, &space) != 0 &&
         tjGetErrorCode(jpeg.handle) != TJERR_WARNING) ||
        width <= 0 || height <= 0)
        return {};
    if (colorspace)
        *colorspace = space;
    return QSize(width, height);
}

QString tooLarge(const QSize &size)
{
    return QStringLiteral("画像の見出しが %1×%2 と、カメラの映像ではありえない大きさを示しています（各辺 %3 まで）")
        .arg(size.width())
        .arg(size.height())
        .arg(kLargestPictureSide);
}

bool withinLimit(const QSize &size)
{
    return size.width() <= kLargestPictureSide && size.height() <= kLargestPictureSide;
}

// The image library writes what its readers throw to std::cerr itself
// ("imdecode_(''): can't read data: …"): while it decodes, std::cerr goes
// nowhere. Nothing else here writes there; one decode at a time.
class QuietStandardError {
public:
    QuietStandardError()
        : lock_(mutex()), previous_(std::cerr.rdbuf(nullptr))
    {
    }
    ~QuietStandardError()
    {
        std::cerr.clear();
        std::cerr.rdbuf(previous_);
    }
    QuietStandardError(const QuietStandardError &) = delete;
    QuietStandardError &operator=(const QuietStandardError &) = delete;

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> lock_;
    std::streambuf *previous_;
};

// Any other format, through the image library; whatever it throws is a
// picture it cannot read.
cv::Mat decodeOther(const QByteArray &bytes, QString *problem, bool keepAlpha)
{
    cv::Mat picture;
    try {
        const QuietStandardError quiet;
        const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8U, const_cast<char *>(bytes.constData()));
        picture = cv::imdecode(buffer, cv::IMREAD_UNCHANGED);
        if (!picture.empty() && picture.depth() != CV_8U)
            picture.convertTo(picture, CV_8U, picture.depth() == CV_16U ? 1.0 / 256 : 1.0);
        if (picture.channels() == 1)
            cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
        else if (picture.channels() == 4 && !keepAlpha)
            cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
    } catch (const std::exception &) {
        picture.release();
    }
    if (picture.empty() || (picture.channels() != 3 && picture.channels() != 4)) {
        *problem = QStringLiteral("画像として読めません");
        return {};
    }
    if (!withinLimit(QSize(picture.cols, picture.rows))) {
        *problem = tooLarge(QSize(picture.cols, picture.rows));
        return {};
    }
    return picture;
}

cv::Mat decodeJpeg(const QByteArray &bytes, QString *problem, bool keepAlpha)
{
    JpegHandle jpeg;
    int colorspace = 0;
    const QSize size = jpegSize(jpeg, bytes, &colorspace);
    if (size.isEmpty()) {
        *problem = QStringLiteral("画像として読めません（JPEG の見出しが壊れているか、途中で切れています）");
        return {};
    }
    if (!withinLimit(size)) {
        *problem = tooLarge(size);
        return {};
    }
    // Four-colour JPEGs are left to the image library, which converts them.
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
        return decodeOther(bytes, problem, keepAlpha);
    cv::Mat picture(size.height(), size.width(), CV_8UC3);
    // A warning (most often "premature end": the picture cut short, grey
    // where data is missing) is taken as the error it is for a frame.
    const auto decode = [&](int flags) {
        return tjDecompress2(jpeg.handle, bytesOf(bytes), static_cast<unsigned long>(bytes.size()), picture.data,
                             size.width(), static_cast<int>(picture.step), size.height(), TJPF_BGR, flags) == 0;
    };
    // Stray bytes between markers (some cameras send them) leave the
    // picture whole: only that warning is let pass, when it is the last.
    const auto onlyStrayBytes = [&] {
        return tjGetErrorCode(jpeg.handle) == TJERR_WARNING &&
               QByteArray(tjGetErrorStr2(jpeg.handle)).contains("extraneous bytes before marker");
    };
    if (!decode(TJFLAG_STOPONWARNING) && (!onlyStrayBytes() || (!decode(0) && !onlyStrayBytes()))) {
        *problem = QStringLiteral("JPEG が途中で切れているか、壊れています（%1）")
                       .arg(QString::fromLatin1(tjGetErrorStr2(jpeg.handle)));
        return {};
    }
    return picture;
}

cv::Mat decodePng(const QByteArray &bytes, QString *problem, bool keepAlpha)
{
    // libpng's simplified interface keeps its messages in the image
    // rather than printing them.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const auto release = qScopeGuard([&image] { png_image_free(&image); });
    if (!png_image_begin_read_from_memory(&image, bytes.constData(), static_cast<size_t>(bytes.size()))) {
        *problem = QStringLiteral("画像として読めません（PNG の見出しが壊れているか、途中で切れています: %1）").arg(QString::fromLatin1(image.message));
        return {};
    }
    const QSize size(int(std::min<png_uint_32>(image.width, INT_MAX)), int(std::min<png_uint_32>(image.height, INT_MAX)));
    if (!withinLimit(size)) {
        *problem = tooLarge(size);
        return {};
    }
    const bool alpha = keepAlpha && (image.format & PNG_FORMAT_FLAG_ALPHA);
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    cv::Mat picture(size.height(), size.width(), alpha ? CV_8UC4 : CV_8UC3);
    if (!png_image_finish_read(&image, nullptr, picture.data, static_cast<png_int_32>(picture.step), nullptr)) {
        *problem = QStringLiteral("PNG が途中で切れているか、壊れています（%1）").arg(QString::fromLatin1(image.message));
        return {};
    }
    return picture;
}

} // namespace

QSize pictureHeaderSize(const QByteArray &bytes)
{
    if (isJpeg(bytes)) {
        JpegHandle jpeg;
        return jpegSize(jpeg, bytes);
    }
    if (isPng(bytes)) {
        if (bytes.size() < 24 || bytes.mid(12, 4) != "IHDR")
            return {};
        const quint32 width = qFromBigEndian<quint32>(bytesOf(bytes) + 16);
        const quint32 height = qFromBigEndian<quint32>(bytesOf(bytes) + 20);
        return QSize(int(std::min<quint32>(width, INT_MAX)), int(std::min<quint32>(height, INT_MAX)));
    }
    const QSize bmp = bmpSize(bytes);
    return bmp.isValid() ? bmp : webpSize(bytes);
}

cv::Mat decodePicture(const QByteArray &bytes, QString *problem, bool keepAlpha)
{
    quietPictureLibraries();
    if (bytes.isEmpty()) {
        *problem = QStringLiteral("中身が空です");
        return {};
    }
    if (isJpeg(bytes))
        return decodeJpeg(bytes, problem, keepAlpha);
    if (isPng(bytes))
        return decodePng(bytes, problem, keepAlpha);
    const QSize claimed = pictureHeaderSize(bytes);
    if (claimed.isValid() && !withinLimit(claimed)) {
        *problem = tooLarge(claimed);
        return {};
    }
    return decodeOther(bytes, problem, keepAlpha);
}

QString fileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (info.isDir())
        return QStringLiteral("フォルダです");
    if (!info.isReadable())
        return QStringLiteral("読む権限がありません");
    return QString();
}

cv::Mat readPictureFile(const QString &path, QString *problem, bool keepAlpha)
{
    *problem = fileProblem(path);
    if (!problem->isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return {};
    }
    if (file.size() > kLargestPictureBytes) {
        *problem = QStringLiteral("%1 MB を超えるファイルで、画面の画像ではありません").arg(kLargestPictureBytes / (1024 * 1024));
        return {};
    }
    return decodePicture(file.readAll(), problem, keepAlpha);
}

bool isPictureFile(const QString &path)
{
    quietPictureLibraries();
    try {
        return QFileInfo(path).isFile() && cv::haveImageReader(QFile::encodeName(path).toStdString());
    } catch (const std::exception &) {
        return false;
    }
}

void quietPictureLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("OPENCV_LOG_LEVEL"))
            cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        // The stream reader's own log would repeat on standard error what
        // the source reports in the user's words (a refused connection, a
        // frame that cannot be decoded); it is quiet unless asked for.
        if (qEnvironmentVariableIsEmpty("OPENCV_FFMPEG_LOGLEVEL") && qEnvironmentVariableIsEmpty("OPENCV_FFMPEG_DEBUG"))
            qputenv("OPENCV_FFMPEG_LOGLEVEL", "-8");
    });
}
