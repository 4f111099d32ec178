#ifndef KEEPALIVESERVER_H
#define KEEPALIVESERVER_H

#include <QHash>
#include <QTcpServer>
#include <QThread>

class QTcpSocket;

// A minimal keep-alive HTTP/1.1 server on 127.0.0.1, on a thread of its own so that the
// client under measurement has the main thread to itself. Every request gets 200 and a
// small JSON object.
class KeepAliveServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit KeepAliveServer(QObject *parent = nullptr);
    ~KeepAliveServer() override;

    // Listens and starts serving on the server thread; returns the base URL.
    QString start();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket *socket);

    QThread thread;
    QHash<QTcpSocket *, QByteArray> buffers;
};

#endif // KEEPALIVESERVER_H
