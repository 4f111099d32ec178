#ifndef LOOPBACKHTTPSERVER_H
#define LOOPBACKHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 that records every request and answers as scripted
// per request path. Connections are kept alive, as a real service does.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QByteArray raw;
    };

    struct Response {
        QByteArray raw;
        int delayMs = 0;
        // Sends the first half of the response, then drops the connection.
        bool dropMidway = false;
        bool neverAnswer = false;
        bool resetImmediately = false;
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    bool listen();
    quint16 port() const { return server.serverPort(); }
    QString baseUrl() const;
    // Connections accepted and not yet closed by either side.
    int openConnections() const;

    static Response reply(int status, const QByteArray &body,
                          const QByteArray &extraHeaders = QByteArray());
    // The answer for requests whose path (the target without query) is path.
    void script(const QByteArray &path, const Response &response);
    // The answer for requests to path whose body contains bodyPart; takes precedence.
    void scriptByBody(const QByteArray &path, const QByteArray &bodyPart, const Response &response);

    // Bytes written to every new connection before it has said anything (garbage to a TLS
    // client, for one).
    void setGreeting(const QByteArray &bytes) { greeting = bytes; }

    QList<Request> requests;

signals:
    void requestReceived();

private slots:
    void acceptConnections();

private:
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer server;
    QHash<QByteArray, Response> scripts;
    QList<QPair<QPair<QByteArray, QByteArray>, Response>> bodyScripts;
    QHash<QTcpSocket *, QByteArray> buffers;
    QByteArray greeting;
};

#endif // LOOPBACKHTTPSERVER_H
