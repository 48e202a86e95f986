#pragma once

// A one-answer HTTP server on 127.0.0.1 for update-check tests: every request gets the same canned
// response, or, when silent, none at all.

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>

namespace fennick::test {

class LoopbackHttpServer {
public:
    // A server that answers every request with `status` and `body`.
    static std::unique_ptr<LoopbackHttpServer> answering(int status, QByteArray body);
    // A server that accepts connections and reads requests but never answers.
    static std::unique_ptr<LoopbackHttpServer> silent();

    QUrl url() const;
    // Request lines received so far ("GET /appcast.xml HTTP/1.1").
    const QList<QByteArray>& requestLines() const { return requestLines_; }

private:
    LoopbackHttpServer(bool answers, QByteArray response);
    void serve(QTcpSocket* socket);

    const bool answers_;
    const QByteArray response_;
    QTcpServer server_;
    QList<QByteArray> requestLines_;
};

} // namespace fennick::test
