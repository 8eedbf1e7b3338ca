#include "handset/mjpegserver.h"

#include <QTcpSocket>

namespace {
const QByteArray kBoundary = "quillonemuframe";
// A request longer than this is no request of a stream reader.
constexpr qsizetype kLongestRequest = 16 * 1024;
} // namespace

MjpegServer::MjpegServer(QObject *parent)
    : QObject(parent), server_(this), timer_(this)
{
    connect(&server_, &QTcpServer::newConnection, this, &MjpegServer::onConnection);
    connect(&timer_, &QTimer::timeout, this, &MjpegServer::sendFrame);
    timer_.setTimerType(Qt::PreciseTimer);
    setRate(15);
}

MjpegServer::~MjpegServer()
{
    closeAll();
}

bool MjpegServer::listen(const QHostAddress &address, quint16 port)
{
    if (!server_.listen(address, port))
        return false;
    timer_.start();
    return true;
}

void MjpegServer::setPicture(const QByteArray &jpeg)
{
    picture_ = jpeg;
    // A change goes out at once rather than at the next tick.
    sendFrame();
    if (timer_.isActive())
        timer_.start();
}

void MjpegServer::setRate(double framesPerSecond)
{
    timer_.setInterval(qMax(1, qRound(1000.0 / framesPerSecond)));
}

void MjpegServer::setStalled(bool stalled)
{
    stalled_ = stalled;
}

void MjpegServer::closeAll()
{
    server_.close();
    timer_.stop();
    dropConnections();
}

void MjpegServer::dropConnections()
{
    const QList<QTcpSocket *> sockets = streaming_;
    streaming_.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnectFromHost();
        socket->deleteLater();
    }
}

void MjpegServer::onConnection()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            streaming_.removeAll(socket);
            socket->deleteLater();
        });
        // The stream starts once the request's header has come.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (streaming_.contains(socket)) {
                socket->readAll();
                return;
            }
            const QByteArray request = socket->peek(kLongestRequest);
            if (!request.contains("\r\n\r\n")) {
                if (request.size() >= kLongestRequest)
                    socket->disconnectFromHost();
                return;
            }
            socket->readAll();
            socket->write("HTTP/1.0 200 OK\r\n"
                          "Cache-Control: no-cache\r\n"
                          "Connection: close\r\n"
                          "Content-Type: multipart/x-mixed-replace; boundary=" +
                          kBoundary + "\r\n\r\n");
            streaming_.append(socket);
        });
    }
}

void MjpegServer::sendFrame()
{
    if (stalled_ || picture_.isEmpty() || streaming_.isEmpty())
        return;
    const QByteArray part = "--" + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                            QByteArray::number(picture_.size()) + "\r\n\r\n" + picture_ + "\r\n";
    for (QTcpSocket *socket : std::as_const(streaming_)) {
        // A reader that does not keep up gets no backlog: frames are
        // skipped while its last ones are still unsent.
        if (socket->bytesToWrite() < 4 * part.size())
            socket->write(part);
    }
    ++framesSent_;
}
