#pragma once

// A small HTTP server on 127.0.0.1 for tests that fetch over the network: it answers
// every request with the status and body it was given, or not at all, or as a server
// that misbehaves would: a redirect, a body trickled a byte at a time, an endless body.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

class LocalHttpServer : public QObject {
public:
    LocalHttpServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket,
                        [this, socket] { readRequest(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path = QStringLiteral("/feed.json")) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    quint16 port() const { return m_server.serverPort(); }

    int status = 200;
    QByteArray body;
    // Never answers: the client's timeout ends the request.
    bool silent = false;
    // Path -> Location of a 302 answer.
    QHash<QByteArray, QByteArray> redirects;
    // Sends this many bytes of body as fast as the client takes them (with a
    // Content-Length when streamLength), instead of `body`.
    qint64 streamBytes = 0;
    bool streamLength = true;
    // Sends `body` one byte per this many ms.
    int trickleMs = 0;

    int requests = 0;
    QList<QByteArray> paths;
    // Bytes of body sent by streams and trickles, and whether the client hung up first.
    qint64 sent = 0;
    bool clientClosed = false;

private:
    void readRequest(QTcpSocket* socket) {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n") || silent)
            return;
        socket->setProperty("request", QByteArray());
        ++requests;
        const QByteArray path = request.split(' ').value(1);
        paths.append(path);
        if (redirects.contains(path)) {
            socket->write("HTTP/1.1 302 Found\r\nLocation: " + redirects.value(path) +
                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) +
                                " Status\r\nContent-Type: application/json\r\n";
        const auto hungUp = [this, socket] {
            connect(socket, &QTcpSocket::disconnected, this, [this] { clientClosed = true; });
        };
        if (streamBytes > 0) {
            socket->write(head +
                          (streamLength
                               ? "Content-Length: " + QByteArray::number(streamBytes) + "\r\n"
                               : QByteArray()) +
                          "Connection: close\r\n\r\n");
            hungUp();
            const auto more = [this, socket] {
                constexpr qint64 chunk = 64 * 1024;
                while (socket->bytesToWrite() < chunk && sent < streamBytes) {
                    socket->write(QByteArray(int(std::min(chunk, streamBytes - sent)), ' '));
                    sent += std::min(chunk, streamBytes - sent);
                }
                if (sent >= streamBytes)
                    socket->disconnectFromHost();
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
            return;
        }
        if (trickleMs > 0) {
            socket->write(head + "Content-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n");
            hungUp();
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [this, socket] {
                if (sent < body.size())
                    socket->write(body.mid(sent++, 1));
            });
            timer->start(trickleMs);
            return;
        }
        socket->write(head + "Content-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};
