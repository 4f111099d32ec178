#include "LoopbackHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

LoopbackHttpServer::LoopbackHttpServer(QObject *parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &LoopbackHttpServer::acceptConnections);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets are the server's children: part with them before the buffers go.
    for (QTcpSocket *socket : server.findChildren<QTcpSocket *>()) {
        socket->disconnect(this);
        delete socket;
    }
}

bool LoopbackHttpServer::listen()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port());
}

int LoopbackHttpServer::openConnections() const
{
    int open = 0;
    for (const QTcpSocket *socket : server.findChildren<QTcpSocket *>())
        open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
}

LoopbackHttpServer::Response LoopbackHttpServer::reply(int status, const QByteArray &body,
                                                       const QByteArray &extraHeaders)
{
    Response response;
    response.raw = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n" +
                   "Content-Type: application/json\r\n" +
                   "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + extraHeaders +
                   "\r\n" + body;
    return response;
}

void LoopbackHttpServer::script(const QByteArray &path, const Response &response)
{
    scripts.insert(path, response);
}

void LoopbackHttpServer::scriptByBody(const QByteArray &path, const QByteArray &bodyPart,
                                      const Response &response)
{
    bodyScripts.append({{path, bodyPart}, response});
}

void LoopbackHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            buffers.remove(socket);
            socket->deleteLater();
        });
        if (!greeting.isEmpty())
            socket->write(greeting);
    }
}

void LoopbackHttpServer::readFrom(QTcpSocket *socket)
{
    buffers[socket] += socket->readAll();
    // An answer may drop the connection, which forgets its buffer.
    while (buffers.contains(socket)) {
        QByteArray &buffer = buffers[socket];
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                       lines.at(i).mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        request.raw = buffer.left(headerEnd + 4 + length);
        buffer.remove(0, headerEnd + 4 + length);
        requests.append(request);
        emit requestReceived();
        answer(socket, request);
    }
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const int query = request.target.indexOf('?');
    const QByteArray path = query < 0 ? request.target : request.target.left(query);
    Response response = scripts.value(path, reply(200, R"({"ok":true})"));
    for (const auto &entry : bodyScripts) {
        if (entry.first.first == path && request.body.contains(entry.first.second))
            response = entry.second;
    }
    if (response.neverAnswer)
        return;
    if (response.resetImmediately) {
        socket->abort();
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    const auto send = [guarded, response] {
        if (!guarded)
            return;
        if (response.dropMidway) {
            guarded->write(response.raw.left(response.raw.size() / 2));
            guarded->flush();
            guarded->disconnectFromHost();
            return;
        }
        guarded->write(response.raw);
    };
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, this, send);
    else
        send();
}
