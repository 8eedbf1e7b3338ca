#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// Serves one picture as an MJPEG stream over HTTP (multipart/x-mixed-replace
// of JPEG images), the way network cameras do: every client that asks for
// any path gets the current picture again and again at a steady rate, so
// that a reader sees frames coming whether the picture changes or not.
class MjpegServer : public QObject {
    Q_OBJECT
public:
    explicit MjpegServer(QObject *parent = nullptr);
    ~MjpegServer() override;

    // Listens on `address`:`port` (0: any free port); false and errorText()
    // when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return server_.serverPort(); }
    QString errorText() const { return server_.errorString(); }

    // The picture sent from now on, as JPEG bytes (sent as given).
    void setPicture(const QByteArray &jpeg);
    // Frames a second.
    void setRate(double framesPerSecond);
    // Stops sending frames without closing the connections (a stalled
    // camera), or goes on again.
    void setStalled(bool stalled);
    // Closes every connection and takes no new ones (a camera gone).
    void closeAll();
    // Closes every connection but takes new ones (a camera that dropped
    // its clients).
    void dropConnections();

    qint64 framesSent() const { return framesSent_; }

private:
    void onConnection();
    void sendFrame();

    QTcpServer server_;
    QTimer timer_;
    QList<QTcpSocket *> streaming_;
    QByteArray picture_;
    qint64 framesSent_ = 0;
    bool stalled_ = false;
};
