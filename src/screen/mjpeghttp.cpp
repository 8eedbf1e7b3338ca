#include "screen/mjpeghttp.h"

#include "screen/mjpegparts.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <algorithm>

namespace {

// The longest wait inside one blocking call before `stopping` is asked.
constexpr int kSliceMs = 100;
QString statusReason(int code, const QByteArray &text, const QUrl &url)
{
    const QString prefix = QStringLiteral("HTTP %1: ").arg(code);
    switch (code) {
    case 401:
    case 407:
        return prefix + (url.userName().isEmpty() ? QStringLiteral("ユーザー名とパスワードが要ります（URL に user:password@ で書けます）")
                                                  : QStringLiteral("ユーザー名かパスワードが違います"));
    case 403:
        return prefix + QStringLiteral("見る権限がありません");
    case 404:
        return prefix + QStringLiteral("そのパス（%1）はサーバーにありません").arg(url.path().isEmpty() ? QStringLiteral("/") : url.path());
    default:
        break;
    }
    if (code >= 300 && code < 400)
        return prefix + QStringLiteral("別の場所へ移されています（%1）").arg(QString::fromLatin1(text));
    if (code >= 500)
        return prefix + QStringLiteral("サーバーの内部で失敗しました（%1）").arg(QString::fromLatin1(text));
    return prefix + QString::fromLatin1(text);
}

} // namespace

MjpegHttpReader::MjpegHttpReader(const QUrl &url, std::function<bool()> stopping)
    : url_(url), stopping_(std::move(stopping))
{
}

MjpegHttpReader::~MjpegHttpReader() = default;

MjpegHttpReader::Opened MjpegHttpReader::open(int timeoutMs, QString *reason)
{
    buffer_.clear();
    socket_ = std::make_unique<QTcpSocket>();
    QElapsedTimer clock;
    clock.start();
    const auto left = [&] { return std::max<qint64>(0, timeoutMs - clock.elapsed()); };
    socket_->connectToHost(url_.host(), static_cast<quint16>(url_.port(80)));
    while (socket_->state() != QAbstractSocket::ConnectedState) {
        if (stopping_() || left() == 0 || socket_->state() == QAbstractSocket::UnconnectedState) {
            *reason = socket_->state() == QAbstractSocket::UnconnectedState
                          ? socket_->errorString()
                          : QStringLiteral("%1 秒待っても接続できません").arg(timeoutMs / 1000);
            return Opened::Failed;
        }
        socket_->waitForConnected(static_cast<int>(std::min<qint64>(kSliceMs, left())));
    }
    QByteArray target = url_.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url_.hasQuery())
        target += '?' + url_.query(QUrl::FullyEncoded).toLatin1();
    QUrl host = url_;
    host.setUserInfo(QString());
    QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: " + host.authority(QUrl::FullyEncoded).toLatin1();
    request += "\r\nUser-Agent: QuillonEmu\r\nAccept: multipart/x-mixed-replace, */*\r\n";
    if (!url_.userName().isEmpty()) {
        const QString credentials = url_.userName(QUrl::FullyDecoded) + u':' + url_.password(QUrl::FullyDecoded);
        request += "Authorization: Basic " + credentials.toUtf8().toBase64() + "\r\n";
    }
    request += "Connection: close\r\n\r\n";
    socket_->write(request);

    qsizetype end = -1;
    while ((end = httpHeaderEnd(buffer_)) < 0) {
        if (buffer_.size() > kLongestHttpHeader) {
            *reason = QStringLiteral("応答の見出しが長すぎ、HTTP の応答ではありません");
            return Opened::Failed;
        }
        QString why;
        if (left() == 0) {
            *reason = QStringLiteral("接続できましたが、%1 秒待っても応答がありません").arg(timeoutMs / 1000);
            return Opened::Failed;
        }
        if (!fill(static_cast<int>(left()), &why)) {
            *reason = QStringLiteral("接続できましたが、応答の途中で%1").arg(why);
            return Opened::Failed;
        }
    }
    const QList<QByteArray> lines = httpHeaderLines(buffer_.left(end));
    buffer_.remove(0, end);
    const QList<QByteArray> status = lines.value(0).split(' ');
    bool numeric = false;
    const int code = status.value(1).toInt(&numeric);
    if (!lines.value(0).startsWith("HTTP/") || !numeric) {
        *reason = QStringLiteral("接続できましたが、HTTP の応答ではありません");
        return Opened::Failed;
    }
    if (code < 200 || code >= 300) {
        *reason = statusReason(code, lines.value(0).mid(lines.value(0).indexOf(' ', 9) + 1), url_);
        return Opened::Failed;
    }
    const QByteArray type = httpHeaderValue(lines, "content-type");
    const QByteArray mediaType = type.split(';').value(0).trimmed().toLower();
    if (mediaType.startsWith("text/") || mediaType.contains("html") || mediaType.contains("json") ||
        mediaType.contains("xml")) {
        *reason = QStringLiteral("映像ではありません（サーバーは %1 の文書を返しました）").arg(QString::fromLatin1(mediaType));
        return Opened::Failed;
    }
    if (!mediaType.startsWith("multipart/"))
        return Opened::NotMjpeg;
    QByteArray boundary;
    for (const QByteArray &parameter : type.split(';')) {
        const QByteArray p = parameter.trimmed();
        if (p.toLower().startsWith("boundary="))
            boundary = p.mid(9).trimmed();
    }
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    if (boundary.isEmpty() || boundary.count('-') == boundary.size()) {
        *reason = QStringLiteral("%1 の応答に区切り（boundary）がありません").arg(QString::fromLatin1(mediaType));
        return Opened::Failed;
    }
    parts_ = std::make_unique<MjpegPartSplitter>(boundary);
    parts_->feed(buffer_);
    buffer_.clear();
    return Opened::Mjpeg;
}

bool MjpegHttpReader::fill(int stallMs, QString *reason)
{
    QElapsedTimer clock;
    clock.start();
    while (socket_->bytesAvailable() == 0) {
        if (stopping_()) {
            *reason = QStringLiteral("閉じられました");
            return false;
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            *reason = socket_->error() == QAbstractSocket::RemoteHostClosedError || socket_->error() == QAbstractSocket::UnknownSocketError
                          ? QStringLiteral("サーバーが接続を閉じました")
                          : socket_->errorString();
            return false;
        }
        if (clock.elapsed() >= stallMs) {
            *reason = QStringLiteral("%1 秒以上データが来ません").arg(QString::number(stallMs / 1000.0, 'g', 2));
            return false;
        }
        socket_->waitForReadyRead(static_cast<int>(std::min<qint64>(kSliceMs, stallMs - clock.elapsed())));
    }
    buffer_ += socket_->readAll();
    return true;
}

MjpegHttpReader::Part MjpegHttpReader::next(int stallMs)
{
    Part part;
    for (;;) {
        switch (parts_->take(&part.bytes)) {
        case MjpegPartSplitter::Result::Picture:
            part.kind = Part::Kind::Picture;
            return part;
        case MjpegPartSplitter::Result::Malformed:
            part.kind = Part::Kind::Malformed;
            return part;
        case MjpegPartSplitter::Result::NeedMore:
            break;
        }
        if (!fill(stallMs, &part.reason)) {
            part.kind = Part::Kind::Ended;
            return part;
        }
        parts_->feed(buffer_);
        buffer_.clear();
    }
}
