#pragma once

#include <QMetaObject>
#include <QThread>

// A server (an MjpegServer, a QTcpServer) living on a thread of its own, so
// that it serves while the test's thread blocks: a source being opened, a
// program's run waited for. `call` runs `f` on the server's thread and
// returns once it has run; every touch of the server goes through it.
template <typename Server> class ServerOnThread {
public:
    ServerOnThread()
    {
        thread_.start();
        server_ = new Server;
        server_->moveToThread(&thread_);
    }
    ~ServerOnThread()
    {
        call([this] { delete server_; });
        thread_.quit();
        thread_.wait();
    }
    ServerOnThread(const ServerOnThread &) = delete;
    ServerOnThread &operator=(const ServerOnThread &) = delete;

    template <typename F> void call(F f) { QMetaObject::invokeMethod(server_, f, Qt::BlockingQueuedConnection); }

    Server *server_;

private:
    QThread thread_;
};
