#include "LoopbackHttpServer.h"

#include <QHostAddress>

#include <stdexcept>

namespace fennick::test {

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::answering(int status, QByteArray body)
{
    const QByteArray reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Error";
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n"
        "Content-Type: application/rss+xml\r\n"
        "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
        "Connection: close\r\n\r\n" + body;
    return std::unique_ptr<LoopbackHttpServer>(new LoopbackHttpServer(true, std::move(response)));
}

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::silent()
{
    return std::unique_ptr<LoopbackHttpServer>(new LoopbackHttpServer(false, {}));
}

LoopbackHttpServer::LoopbackHttpServer(bool answers, QByteArray response)
    : answers_(answers)
    , response_(std::move(response))
{
    if (!server_.listen(QHostAddress::LocalHost))
        throw std::runtime_error("cannot listen on loopback: " + server_.errorString().toStdString());
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection())
            serve(socket);
    });
}

QUrl LoopbackHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort()));
}

void LoopbackHttpServer::serve(QTcpSocket* socket)
{
    // Sockets are children of the server, so they go with it.
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request = QByteArray()]() mutable {
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        requestLines_.append(request.left(request.indexOf("\r\n")));
        request.clear();
        if (answers_) {
            socket->write(response_);
            socket->disconnectFromHost();
        }
    });
}

} // namespace fennick::test
