#include "screen/screenfiles.h"

#include "platform/wholefile.h"

#include <opencv2/imgcodecs.hpp>
#include <vector>

bool saveFramePng(const cv::Mat &frame, const QString &path, QString *error)
{
    std::vector<uchar> bytes;
    bool encoded = false;
    try {
        encoded = !frame.empty() && cv::imencode(".png", frame, bytes);
    } catch (const cv::Exception &) {
        encoded = false;
    }
    if (!encoded) {
        *error = QStringLiteral("「%1」: 保存するフレームがありません。").arg(path);
        return false;
    }
    return writeWholeFile(path,
                          QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                          error);
}

bool saveTextFile(const QString &path, const QString &text, QString *error)
{
    return writeWholeFile(path, (text + u'\n').toUtf8(), error);
}
