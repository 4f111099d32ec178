#include "CloudPostCommand.h"
#include "LoopbackHttpServer.h"
#include "TzCloud.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

class TestCloudPost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void printsReplyOnSuccess();
    void reportsHttpError();
    void reportsRefusedConnection();
    void endsRequestThatNeverFinishes();
    void printsOneOutcomeWhenTwoMeet_data();
    void printsOneOutcomeWhenTwoMeet();
    void rejectsBadArguments();
    void refusesNamesThatWouldAddParameters_data();
    void refusesNamesThatWouldAddParameters();
    void sendsOtherNamesUnencoded();
    void writesUtf8IntoPipesAndFiles();
    void explainsItself();

private:
    // Runs the tool without blocking this process's event loop, which serves the requests.
    // With outFile set, its standard output goes into that file instead of a pipe.
    bool runTool(const QStringList &arguments, int *exitCode, QByteArray *out, QByteArray *err,
                 const QString &outFile = QString());

    QScopedPointer<LoopbackHttpServer> server;
};

void TestCloudPost::init()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    server.reset(new LoopbackHttpServer);
    QVERIFY(server->listen());
}

bool TestCloudPost::runTool(const QStringList &arguments, int *exitCode, QByteArray *out,
                            QByteArray *err, const QString &outFile)
{
    QProcess tool;
    if (!outFile.isEmpty())
        tool.setStandardOutputFile(outFile);
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
    QCOMPARE(err.count("timed out"), 1);
    QVERIFY(out.isEmpty());
}

void TestCloudPost::printsOneOutcomeWhenTwoMeet_data()
{
    QTest::addColumn<bool>("replyFirst");
    QTest::addColumn<int>("expectedExit");
    QTest::newRow("reply, then time-out") << true << int(CloudPostCommand::Success);
    QTest::newRow("time-out, then reply") << false << int(CloudPostCommand::TimedOut);
}

void TestCloudPost::printsOneOutcomeWhenTwoMeet()
{
    QFETCH(bool, replyFirst);
    QFETCH(int, expectedExit);

    // The command runs in this process, so that both outcomes can be made to arrive in one
    // pass of its event loop, as a reply landing just as the time-out ends does.
    LoopbackHttpServer::Response silent;
    silent.neverAnswer = true;
    server->script("/meet", silent);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray outPath = QFile::encodeName(dir.filePath("out.txt"));
    const QByteArray errPath = QFile::encodeName(dir.filePath("err.txt"));
    FILE *out = std::fopen(outPath.constData(), "w");
    FILE *err = std::fopen(errPath.constData(), "w");
    QVERIFY(out && err);
    int exitCode = -1;
    {
        CloudPostCommand command(out, err);
        QTimer::singleShot(0, &command, [&command, replyFirst] {
            TzCloud *cloud = command.findChild<TzCloud *>();
            QVERIFY(cloud);
            if (replyFirst)
                emit cloud->sigHttpRequestFinish("meet", QJsonObject{{"late", true}});
            emit cloud->sigHttpRequestError("meet", TzCloud::RequestTimedOut);
            if (!replyFirst)
                emit cloud->sigHttpRequestFinish("meet", QJsonObject{{"late", true}});
        });
        exitCode =
            command.run({"cloudpost", "--host", server->baseUrl(), "--timeout", "60", "meet"});
    }
    std::fclose(out);
    std::fclose(err);
    QFile outFile(dir.filePath("out.txt")), errFile(dir.filePath("err.txt"));
    QVERIFY(outFile.open(QIODevice::ReadOnly) && errFile.open(QIODevice::ReadOnly));
    const QByteArray printed = outFile.readAll(), complaint = errFile.readAll();

    QCOMPARE(exitCode, expectedExit);
    if (replyFirst) {
        QCOMPARE(QJsonDocument::fromJson(printed).object(), (QJsonObject{{"late", true}}));
        QVERIFY2(complaint.isEmpty(), complaint.constData());
    } else {
        QVERIFY2(printed.isEmpty(), printed.constData());
        QCOMPARE(complaint.trimmed(), QByteArray("timed out after 60 s"));
    }
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

void TestCloudPost::refusesNamesThatWouldAddParameters_data()
{
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QByteArray>("shownName");
    QTest::newRow("ampersand") << "a&b=c" << QByteArray("a&b");
    QTest::newRow("ampersand, Chinese")
        << QStringLiteral("名&字=1") << QByteArray("\xe5\x90\x8d&\xe5\xad\x97");
    QTest::newRow("tab") << "a\tb=c" << QByteArray("a\\x09b");
    QTest::newRow("C0 control") << "a\x01"
                                   "b=c"
                                << QByteArray("a\\x01b");
    QTest::newRow("delete") << "a\x7f=c" << QByteArray("a\\x7f");
    QTest::newRow("C1 control") << QStringLiteral("a\u0085=c") << QByteArray("a\\x85");
    QTest::newRow("right-to-left override")
        << QStringLiteral("a\u202eb=c") << QByteArray("a\\u202eb");
    QTest::newRow("zero-width space") << QStringLiteral("a\u200b=c") << QByteArray("a\\u200b");
    QTest::newRow("line separator") << QStringLiteral("a\u2028=c") << QByteArray("a\\u2028");
}

void TestCloudPost::refusesNamesThatWouldAddParameters()
{
    QFETCH(QString, parameter);
    QFETCH(QByteArray, shownName);

    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl(), "x", "ok=1", parameter}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 2);
    QVERIFY(out.isEmpty());
    QCOMPARE(err.trimmed(), "a parameter name must not contain '&', '=' or a control "
                            "character: " +
                                shownName);
    QVERIFY(server->requests.isEmpty());
}

void TestCloudPost::sendsOtherNamesUnencoded()
{
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl(), "x", QStringLiteral("a+b%/中 x=1"), "z=a&b"},
                    &exitCode, &out, &err));
    QCOMPARE(exitCode, 0);
    QCOMPARE(server->requests.size(), 1);
    const QByteArray body = server->requests.first().body;
    QVERIFY2(body.startsWith("a+b%/\xe4\xb8\xad x=1&restauth="), body.constData());
    QVERIFY2(body.endsWith("&sessionkey=deskagent&z=a%26b"), body.constData());
}

void TestCloudPost::writesUtf8IntoPipesAndFiles()
{
    server->script("/who", LoopbackHttpServer::reply(200, R"({"name":"李雷"})"));
    const QByteArray name = "\"name\": \"\xe6\x9d\x8e\xe9\x9b\xb7\"";
    int exitCode = -1;
    QByteArray out, err;
    QVERIFY(runTool({"--host", server->baseUrl(), "who"}, &exitCode, &out, &err));
    QCOMPARE(exitCode, 0);
    QVERIFY2(out.contains(name), out.constData());

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(runTool({"--host", server->baseUrl(), "who"}, &exitCode, &out, &err,
                    dir.filePath("out.txt")));
    QCOMPARE(exitCode, 0);
    QFile file(dir.filePath("out.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY2(written.contains(name), written.constData());
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
    // How Chinese text reaches a console, a pipe and a file.
    QVERIFY2(out.contains("Windows console"), out.constData());
    QVERIFY2(out.contains("UTF-8"), out.constData());
}

QTEST_GUILESS_MAIN(TestCloudPost)
#include "TestCloudPost.moc"
