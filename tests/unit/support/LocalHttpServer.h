#pragma once

// A small HTTP server on 127.0.0.1 for tests that fetch over the network: it answers
// every request with the status and body it was given, or not at all.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class LocalHttpServer : public QObject {
public:
    LocalHttpServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n") || silent)
                        return;
                    ++requests;
                    socket->write("HTTP/1.1 " + QByteArray::number(status) +
                                  " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                                  QByteArray::number(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                    m_request.clear();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path = QStringLiteral("/feed.json")) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    int status = 200;
    QByteArray body;
    // Never answers: the client's timeout ends the request.
    bool silent = false;
    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_request;
};
