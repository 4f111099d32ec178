#include "KeepAliveServer.h"

#include <QMetaObject>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace
{
const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                          "Content-Length: 20\r\nConnection: keep-alive\r\n\r\n"
                          "{\"ok\":1,\"user\":\"me\"}";
}

KeepAliveServer::KeepAliveServer(QObject *parent) : QTcpServer(parent) {}

KeepAliveServer::~KeepAliveServer()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            close();
            qDeleteAll(findChildren<QTcpSocket *>());
            thread.quit();
        },
        Qt::BlockingQueuedConnection);
    thread.wait();
}

QString KeepAliveServer::start()
{
    listen(QHostAddress::LocalHost, 0);
    thread.start();
    moveToThread(&thread);
    return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort());
}

void KeepAliveServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        buffers.remove(socket);
        socket->deleteLater();
    });
}

void KeepAliveServer::serve(QTcpSocket *socket)
{
    QByteArray &buffer = buffers[socket];
    buffer += socket->readAll();
    // QNAM sends a POST's headers and body as two segments and waits, by Nagle, for the
    // first to be acknowledged; Linux would delay that ACK by 40 ms. Acknowledge at once.
    const int one = 1;
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const int lengthAt = buffer.indexOf("Content-Length:", 0);
        int length = 0;
        if (lengthAt >= 0 && lengthAt < headerEnd)
            length = buffer.mid(lengthAt + 15, buffer.indexOf('\r', lengthAt) - lengthAt - 15)
                         .trimmed()
                         .toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        buffer.remove(0, headerEnd + 4 + length);
        socket->write(answer);
    }
}
