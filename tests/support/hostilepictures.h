#pragma once

// Pictures that lie: real small pictures whose header claims another size,
// or that are cut short, as damaged or hostile sources send them.

#include <QByteArray>
#include <opencv2/imgcodecs.hpp>

inline QByteArray encodedPicture(const cv::Mat &picture, const char *extension)
{
    std::vector<uchar> bytes;
    cv::imencode(extension, picture, bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

inline quint32 pngCrc(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uchar>(c);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void putBigEndian(QByteArray &bytes, qsizetype at, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = char(value >> (8 * (size - 1 - i)));
}

// `picture` (JPEG, PNG or BMP bytes) with its header claiming `width` x
// `height`; a PNG's header keeps a right checksum.
inline QByteArray claimingSize(QByteArray picture, quint32 width, quint32 height)
{
    if (picture.startsWith("\x89PNG")) {
        putBigEndian(picture, 16, width, 4);
        putBigEndian(picture, 20, height, 4);
        putBigEndian(picture, 29, pngCrc(picture.mid(12, 17)), 4);
    } else if (picture.startsWith("BM")) {
        for (int i = 0; i < 4; ++i) {
            picture[18 + i] = char(width >> (8 * i));
            picture[22 + i] = char(height >> (8 * i));
        }
    } else {
        for (qsizetype i = 2; i + 9 < picture.size(); ++i) {
            if (uchar(picture[i]) == 0xFF && (uchar(picture[i + 1]) & 0xFC) == 0xC0) {
                putBigEndian(picture, i + 5, height, 2);
                putBigEndian(picture, i + 7, width, 2);
                break;
            }
        }
    }
    return picture;
}

inline QByteArray cutInHalf(const QByteArray &picture)
{
    return picture.left(picture.size() / 2);
}
