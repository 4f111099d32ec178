#include "LoopbackHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

class TestCloudPost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void printsReplyOnSuccess();
    void reportsHttpError();
    void reportsRefusedConnection();
    void endsRequestThatNeverFinishes();
    void rejectsBadArguments();
    void explainsItself();

private:
    // Runs the tool without blocking this process's event loop, which serves the requests.
    bool runTool(const QStringList &arguments, int *exitCode, QByteArray *out, QByteArray *err);

    QScopedPointer<LoopbackHttpServer> server;
};

void TestCloudPost::init()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    server.reset(new LoopbackHttpServer);
    QVERIFY(server->listen());
}

bool TestCloudPost::runTool(const QStringList &arguments, int *exitCode, QByteArray *out,
                            QByteArray *err)
{
    QProcess tool;
    QSignalSpy finished(&tool, SIGNAL(finished(int, QProcess::ExitStatus)));
    tool.start(QStringLiteral(CLOUDPOST_BINARY), arguments);
    if (!finished.wait(30000))
        return false;
    *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    *out = tool.readAllStandardOutput();
    *err = tool.readAllStandardError();
    return true;
}

void TestCloudPost::printsReplyOnSuccess()
{
    server->script("/user/info",
                   LoopbackHttpServer::reply(200, R"({"name":"李雷","vip":{"days":365}})"));
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl(), "user/info", "uid=42", "note=a b=c"}, &exitCode,
                    &out, &err));
    QCOMPARE(exitCode, 0);
    const QJsonObject printed = QJsonDocument::fromJson(out).object();
    QCOMPARE(printed.value("name").toString(), QStringLiteral("李雷"));
    QCOMPARE(printed.value("vip").toObject().value("days").toInt(), 365);

    QCOMPARE(server->requests.size(), 1);
    const QByteArray body = server->requests.first().body;
    QVERIFY2(body.startsWith("note=a+b%3Dc&restauth="), body.constData());
    QVERIFY2(body.endsWith("&sessionkey=deskagent&uid=42"), body.constData());
}

void TestCloudPost::reportsHttpError()
{
    server->script("/missing", LoopbackHttpServer::reply(404, "{}"));
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl(), "missing"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 1);
    QVERIFY(out.isEmpty());
    QVERIFY2(err.contains("error 203: ContentNotFoundError"), err.constData());
}

void TestCloudPost::reportsRefusedConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString host = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", host, "x"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 1);
    QVERIFY2(err.contains("error 1: ConnectionRefusedError"), err.constData());
}

void TestCloudPost::endsRequestThatNeverFinishes()
{
    LoopbackHttpServer::Response silent;
    silent.neverAnswer = true;
    server->script("/hang", silent);
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(
        runTool({"--host", server->baseUrl(), "--timeout", "1", "hang"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 3);
    QVERIFY2(err.contains("timed out after 1 s"), err.constData());
}

void TestCloudPost::rejectsBadArguments()
{
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl()}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 2);
    QVERIFY(runTool({"--host", server->baseUrl(), "x", "novalue"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 2);
    // Out of range, including values whose milliseconds overflow a 32-bit timer interval.
    for (const char *timeout : {"soon", "0", "-5", "2147484", "4294968", "99999999999"}) {
        QVERIFY(runTool({"--host", server->baseUrl(), "--timeout", timeout, "x"}, &exitCode, &out,
                        &err));
        QCOMPARE(exitCode, 2);
        QVERIFY2(err.contains("--timeout must be a whole number of seconds from 1 to 2147483"),
                 err.constData());
    }
    QVERIFY(server->requests.isEmpty());
}

void TestCloudPost::explainsItself()
{
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--help"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 0);
    QVERIFY(out.contains("API_PATH"));
    QVERIFY(out.contains("--timeout"));
    QVERIFY(out.contains("--host"));
}

QTEST_GUILESS_MAIN(TestCloudPost)
#include "TestCloudPost.moc"
