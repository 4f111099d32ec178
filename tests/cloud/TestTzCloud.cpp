#include "LoopbackHttpServer.h"
#include "MessageCapture.h"
#include "TzCloud.h"
#include "Wine.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QtTest>

#include <climits>
#include <memory>
#include <vector>

namespace
{
const QByteArray secret = "9e07b1c4d36f";
// What postAndWait gives as the code of a request that succeeded: no error code, not even the
// client's own negative time-out code.
constexpr int successCode = INT_MIN;

// The digest computed here, apart from the client's own code.
QByteArray referenceMd5(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

QString versionIniPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini");
}

void writeVersionIni(const QByteArray &content)
{
    QFile file(versionIniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}
} // namespace

class TestTzCloud : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void encodesValuesAndDigest();
    void postsSignedBody_data();
    void postsSignedBody();
    void reportsReplies_data();
    void reportsReplies();
    void reportsTransportFailures_data();
    void reportsTransportFailures();
    void carriesBasePathAndDecodedApiPath_data();
    void carriesBasePathAndDecodedApiPath();
    void joinsBaseAndApiPathWithASlash_data();
    void joinsBaseAndApiPathWithASlash();
    void endsStalledRequestAsTimedOut();
    void reportsOnceWhenReplyAndTimeoutMeet();
    void reportsTwoOutstandingRequestsToOnePath();
    void deliversRepliesToOnePathInTheOrderTheyFinish();
    void stampsRequestsOfOneSecondAlike();
    void survivesNestedEventLoopInReceiver();
    void answersEachOfManyOutstandingRequestsOnce();
    void thousandRequestsLeaveNoObjectsBehind();
    void makesNetworkManagerForFirstRequest();
    void readsHostFromVersionIni();
    void fallsBackToDefaultHost();
    void talksTlsOnlyToTrustedServer_data();
    void talksTlsOnlyToTrustedServer();

private:
    // Waits for exactly one outcome and returns (path, code or successCode, object).
    bool postAndWait(TzCloud &cloud, const QString &apiPath, const QMap<QString, QString> &params,
                     QString *path, int *code, QJsonObject *object);

    QScopedPointer<LoopbackHttpServer> server;
};

void TestTzCloud::init()
{
    server.reset(new LoopbackHttpServer);
    QVERIFY(server->listen());
    MessageCapture::messages().clear();
}

void TestTzCloud::cleanup()
{
    MessageCapture::uninstall();
    QFile::remove(versionIniPath());
    server.reset();
}

bool TestTzCloud::postAndWait(TzCloud &cloud, const QString &apiPath,
                              const QMap<QString, QString> &params, QString *path, int *code,
                              QJsonObject *object)
{
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    QSignalSpy failed(&cloud, SIGNAL(sigHttpRequestError(QString, int)));
    cloud.postRequest(params, apiPath);
    for (int waited = 0; finished.isEmpty() && failed.isEmpty() && waited < 150; ++waited)
        QTest::qWait(100);
    // Let anything else that would arrive for this request arrive.
    QTest::qWait(50);
    if (finished.size() + failed.size() != 1)
        return false;
    if (!finished.isEmpty()) {
        *path = finished.first().at(0).toString();
        *code = successCode;
        *object = finished.first().at(1).toJsonObject();
    } else {
        *path = failed.first().at(0).toString();
        *code = failed.first().at(1).toInt();
    }
    return true;
}

void TestTzCloud::encodesValuesAndDigest()
{
    // RFC 1321's own test vectors.
    QCOMPARE(TzCloud::md5Hex(""), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(TzCloud::md5Hex("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(TzCloud::md5Hex("中"), QString::fromLatin1(referenceMd5("\xe4\xb8\xad")));

    QCOMPARE(TzCloud::urlEncode(""), QString(""));
    QCOMPARE(TzCloud::urlEncode("AZaz09-._~"), QStringLiteral("AZaz09-._~"));
    QCOMPARE(TzCloud::urlEncode("a b+c%d/e"), QStringLiteral("a+b%2Bc%25d%2Fe"));
    QCOMPARE(TzCloud::urlEncode("中"), QStringLiteral("%E4%B8%AD"));
    QCOMPARE(TzCloud::urlEncode("%20"), QStringLiteral("%2520"));
    QCOMPARE(TzCloud::urlEncode("\n&="), QStringLiteral("%0A%26%3D"));
}

void TestTzCloud::postsSignedBody_data()
{
    QTest::addColumn<QVariantMap>("params");
    // With T for resttime and D for the digest of the signing string.
    QTest::addColumn<QByteArray>("expectedBody");
    QTest::addColumn<QByteArray>("expectedSigning");

    QTest::newRow("worked example")
        << QVariantMap{{"code", "x~y"}, {"name", "a b"}}
        << QByteArray("code=x~y&name=a+b&restauth=D&resttime=T&sessionkey=deskagent")
        << QByteArray("code=x~y&name=a+b&resttime=T&sessionkey=deskagent&");
    QTest::newRow("empty map") << QVariantMap{}
                               << QByteArray("restauth=D&resttime=T&sessionkey=deskagent")
                               << QByteArray("resttime=T&sessionkey=deskagent&");
    QTest::newRow("reserved fields replaced")
        << QVariantMap{{"sessionkey", "evil"}, {"resttime", "1"}, {"restauth", "a b/c"}}
        << QByteArray("restauth=D&resttime=T&sessionkey=deskagent")
        << QByteArray("restauth=a+b%2Fc&resttime=T&sessionkey=deskagent&");
    QTest::newRow("empty value") << QVariantMap{{"k", ""}}
                                 << QByteArray("k=&restauth=D&resttime=T&sessionkey=deskagent")
                                 << QByteArray("k=&resttime=T&sessionkey=deskagent&");
    QTest::newRow("upper case first")
        << QVariantMap{{"age", "3"}, {"Name", "x"}, {"Zed", "z"}}
        << QByteArray("Name=x&Zed=z&age=3&restauth=D&resttime=T&sessionkey=deskagent")
        << QByteArray("Name=x&Zed=z&age=3&resttime=T&sessionkey=deskagent&");
    QTest::newRow("raw keys")
        << QVariantMap{{QStringLiteral("键 a/b"), "v"}, {"a+b%", "w"}}
        << QByteArray("a+b%=w&restauth=D&resttime=T&sessionkey=deskagent&\xe9\x94\xae a/b=v")
        << QByteArray("a+b%=w&resttime=T&sessionkey=deskagent&\xe9\x94\xae a/b=v&");
    QTest::newRow("reserved characters")
        << QVariantMap{{"a", "~"},
                       {"b", "+"},
                       {"c", "%"},
                       {"d", "/"},
                       {"e", QStringLiteral("中")},
                       {"f", "%20"},
                       {"g", "a b"}}
        << QByteArray("a=~&b=%2B&c=%25&d=%2F&e=%E4%B8%AD&f=%2520&g=a+b&restauth=D&resttime=T&"
                      "sessionkey=deskagent")
        << QByteArray("a=~&b=%2B&c=%25&d=%2F&e=%E4%B8%AD&f=%2520&g=a+b&resttime=T&"
                      "sessionkey=deskagent&");
}

void TestTzCloud::postsSignedBody()
{
    QFETCH(QVariantMap, params);
    QFETCH(QByteArray, expectedBody);
    QFETCH(QByteArray, expectedSigning);

    QMap<QString, QString> map;
    for (auto it = params.constBegin(); it != params.constEnd(); ++it)
        map.insert(it.key(), it.value().toString());

    TzCloud cloud(server->baseUrl(), nullptr);
    const qint64 before = QDateTime::currentMSecsSinceEpoch() / 1000;
    QCOMPARE(cloud.postRequest(map, "user/info"), server->baseUrl() + "user/info");
    QTRY_COMPARE(server->requests.size(), 1);
    const qint64 after = QDateTime::currentMSecsSinceEpoch() / 1000;

    const LoopbackHttpServer::Request request = server->requests.first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/user/info"));
    QCOMPARE(request.headers.value("content-type"),
             QByteArray("application/x-www-form-urlencoded"));
    QVERIFY(!request.raw.contains(secret));

    const QRegularExpression time(QStringLiteral("resttime=(\\d+)"));
    const QByteArray t = time.match(QString::fromUtf8(request.body)).captured(1).toLatin1();
    QVERIFY(t.toLongLong() >= before && t.toLongLong() <= after);
    const QByteArray signing =
        QByteArray(expectedSigning).replace("resttime=T", "resttime=" + t) + secret;
    const QByteArray digest = referenceMd5(signing);
    QByteArray body = expectedBody;
    body.replace("restauth=D", "restauth=" + digest).replace("resttime=T", "resttime=" + t);
    QCOMPARE(request.body, body);
}

void TestTzCloud::reportsReplies_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("expectedCode");
    QTest::addColumn<QByteArray>("expectedJson");

    using S = LoopbackHttpServer;
    QTest::newRow("200 object")
        << S::reply(200, R"({"a":1,"b":{"c":[1,"two",{"d":null}]},"s":"中"})").raw << successCode
        << QByteArray(R"({"a":1,"b":{"c":[1,"two",{"d":null}]},"s":"中"})");
    QTest::newRow("200 array") << S::reply(200, "[1,2,3]").raw << successCode << QByteArray("{}");
    QTest::newRow("200 empty object") << S::reply(200, "{}").raw << successCode << QByteArray("{}");
    QTest::newRow("200 empty body") << S::reply(200, "").raw << 0 << QByteArray();
    QTest::newRow("200 not JSON") << S::reply(200, "<html>oops</html>").raw << 0 << QByteArray();
    QTest::newRow("200 truncated JSON") << S::reply(200, R"({"a":)").raw << 0 << QByteArray();
    QTest::newRow("200 bare scalar") << S::reply(200, "42").raw << 0 << QByteArray();
    QTest::newRow("204") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << 0 << QByteArray();
    QTest::newRow("301") << S::reply(301, "{}", "Location: /moved\r\n").raw << 0 << QByteArray();
    QTest::newRow("404") << S::reply(404, R"({"error":"no"})").raw
                         << int(QNetworkReply::ContentNotFoundError) << QByteArray();
    QTest::newRow("500") << S::reply(500, R"({"a":1})").raw
                         << int(QNetworkReply::InternalServerError) << QByteArray();
}

void TestTzCloud::reportsReplies()
{
    QFETCH(QByteArray, response);
    QFETCH(int, expectedCode);
    QFETCH(QByteArray, expectedJson);

    LoopbackHttpServer::Response scripted;
    scripted.raw = response;
    server->script("/api/call", scripted);
    TzCloud cloud(server->baseUrl(), nullptr);
    QString path;
    int code = -2;
    QJsonObject object;
    QVERIFY(postAndWait(cloud, "api/call", {{"q", "1"}}, &path, &code, &object));
    QCOMPARE(path, QStringLiteral("api/call"));
    QCOMPARE(code, expectedCode);
    if (expectedCode == successCode)
        QCOMPARE(object, QJsonDocument::fromJson(expectedJson).object());
    // Redirects are answers of their own, never followed.
    QCOMPARE(server->requests.size(), 1);
}

void TestTzCloud::reportsTransportFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expectedCode"); // 0: any error code but 0
    QTest::newRow("closed mid-reply") << "drop" << 0;
    QTest::newRow("reset without answer") << "reset" << 0;
    QTest::newRow("refused port") << "refused" << int(QNetworkReply::ConnectionRefusedError);
    QTest::newRow("unresolvable host") << "unresolvable" << int(QNetworkReply::HostNotFoundError);
    QTest::newRow("TLS against plain HTTP") << "tls" << int(QNetworkReply::SslHandshakeFailedError);
    QTest::newRow("unsupported scheme") << "scheme" << int(QNetworkReply::ProtocolUnknownError);
}

void TestTzCloud::reportsTransportFailures()
{
    QFETCH(QString, kind);
    QFETCH(int, expectedCode);

    QString host = server->baseUrl();
    if (kind == "drop") {
        LoopbackHttpServer::Response response = LoopbackHttpServer::reply(200, R"({"a":"long"})");
        response.dropMidway = true;
        server->script("/x", response);
    } else if (kind == "reset") {
        LoopbackHttpServer::Response response;
        response.resetImmediately = true;
        server->script("/x", response);
    } else if (kind == "refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        host = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
        closed.close();
    } else if (kind == "unresolvable") {
        host = QStringLiteral("http://cloud.lessa.invalid/");
    } else if (kind == "tls") {
        if (runningUnderWine())
            QSKIP("Wine's Schannel never ends a handshake that a plain HTTP server answers; "
                  "Windows fails it");
        // A plain HTTP server answering a TLS client: the handshake fails.
        server->setGreeting("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        host = QStringLiteral("https://127.0.0.1:%1/").arg(server->port());
    } else {
        host = QStringLiteral("gopher://127.0.0.1:%1/").arg(server->port());
    }

    TzCloud cloud(host, nullptr);
    QString path;
    int code = -2;
    QJsonObject object;
    QVERIFY(postAndWait(cloud, "x", {}, &path, &code, &object));
    QCOMPARE(path, QStringLiteral("x"));
    QVERIFY2(code > 0, qPrintable(QString::number(code)));
    if (expectedCode)
        QCOMPARE(code, expectedCode);

    // The client stays usable after any failure.
    server->setGreeting(QByteArray());
    TzCloud healthy(server->baseUrl(), nullptr);
    server->script("/x", LoopbackHttpServer::reply(200, R"({"ok":true})"));
    QVERIFY(postAndWait(healthy, "x", {}, &path, &code, &object));
    QCOMPARE(code, successCode);
}

void TestTzCloud::carriesBasePathAndDecodedApiPath_data()
{
    QTest::addColumn<QString>("basePath");
    QTest::addColumn<QString>("apiPath");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("signalPath");
    QTest::newRow("prefix") << "prefix/"
                            << "api/x" << QByteArray("/prefix/api/x") << "prefix/api/x";
    QTest::newRow("escapes") << ""
                             << "dir%20one/%E4%B8%AD" << QByteArray("/dir%20one/%E4%B8%AD")
                             << QStringLiteral("dir one/中");
}

void TestTzCloud::carriesBasePathAndDecodedApiPath()
{
    QFETCH(QString, basePath);
    QFETCH(QString, apiPath);
    QFETCH(QByteArray, target);
    QFETCH(QString, signalPath);

    TzCloud cloud(server->baseUrl() + basePath, nullptr);
    QString path;
    int code = -2;
    QJsonObject object;
    QVERIFY(postAndWait(cloud, apiPath, {}, &path, &code, &object));
    QCOMPARE(code, successCode);
    QCOMPARE(server->requests.first().target, target);
    QCOMPARE(path, signalPath);
}

void TestTzCloud::joinsBaseAndApiPathWithASlash_data()
{
    QTest::addColumn<QString>("basePath"); // after http://127.0.0.1:port
    QTest::addColumn<QString>("apiPath");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("base with slash") << "/api/"
                                     << "x/y" << QByteArray("/api/x/y");
    QTest::newRow("base without slash") << "/api"
                                        << "x/y" << QByteArray("/api/x/y");
    // A base ending in "/" is followed by the path as it is.
    QTest::newRow("both slashes") << "/api/"
                                  << "/x/y" << QByteArray("/api//x/y");
    QTest::newRow("path slash only") << "/api"
                                     << "/x/y" << QByteArray("/api/x/y");
    // Without a separator the port would swallow the path ("1234x") and the post go nowhere.
    QTest::newRow("bare host") << ""
                               << "x/y" << QByteArray("/x/y");
    QTest::newRow("bare host, path slash") << ""
                                           << "/x/y" << QByteArray("/x/y");
}

void TestTzCloud::joinsBaseAndApiPathWithASlash()
{
    QFETCH(QString, basePath);
    QFETCH(QString, apiPath);
    QFETCH(QByteArray, target);

    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(server->port());
    TzCloud cloud(origin + basePath, nullptr);
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    QSignalSpy failed(&cloud, SIGNAL(sigHttpRequestError(QString, int)));
    QCOMPARE(cloud.postRequest({}, apiPath), origin + QString::fromLatin1(target));
    QVERIFY(finished.wait(30000));
    QVERIFY(failed.isEmpty());
    QCOMPARE(server->requests.size(), 1);
    QCOMPARE(server->requests.first().target, target);
    QCOMPARE(finished.first().at(0).toString(), QString::fromLatin1(target.mid(1)));
}

void TestTzCloud::endsStalledRequestAsTimedOut()
{
    // Accepts the request and never answers, holding the connection open.
    LoopbackHttpServer::Response silent;
    silent.neverAnswer = true;
    server->script("/stall", silent);
    TzCloud cloud(server->baseUrl(), nullptr);
    QCOMPARE(cloud.requestTimeout(), TzCloud::DefaultRequestTimeoutMs);
    QCOMPARE(TzCloud::DefaultRequestTimeoutMs, 30000);
    cloud.setRequestTimeout(300);
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    QSignalSpy failed(&cloud, SIGNAL(sigHttpRequestError(QString, int)));
    cloud.postRequest({}, "stall");
    const QList<QNetworkReply *> replies = cloud.findChildren<QNetworkReply *>();
    QCOMPARE(replies.size(), 1);
    const QPointer<QNetworkReply> reply = replies.first();
    QList<QPointer<QObject>> replyChildren;
    for (QObject *child : reply->findChildren<QObject *>())
        replyChildren << child;
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("stall"));
    QCOMPARE(failed.first().at(1).toInt(), int(TzCloud::RequestTimedOut));
    QTRY_COMPARE_WITH_TIMEOUT(server->openConnections(), 0, 30000);
    // The code is told apart from every error the network layer reports.
    const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (int i = 0; i < errors.keyCount(); ++i)
        QVERIFY(errors.value(i) != TzCloud::RequestTimedOut);

    // Nothing more for that request, and nothing of it left behind.
    QTest::qWait(500);
    QCOMPARE(failed.size(), 1);
    QVERIFY(finished.isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(reply.isNull());
    for (const QPointer<QObject> &child : replyChildren)
        QVERIFY(child.isNull());
    QVERIFY(cloud.findChildren<QNetworkReply *>().isEmpty());

    // The client stays usable, and a quick answer is not cut short.
    server->requests.clear();
    QString path;
    int code = 0;
    QJsonObject object;
    QVERIFY(postAndWait(cloud, "quick", {}, &path, &code, &object));
    QCOMPARE(code, successCode);
}

void TestTzCloud::reportsOnceWhenReplyAndTimeoutMeet()
{
    // Answers due around the moment the time-out ends: each request gets one outcome, the
    // reply or the time-out, whichever comes first. One client per request, so that none
    // waits for a connection that another holds.
    constexpr int timeoutMs = 200;
    constexpr int requestCount = 40;
    QHash<QString, QList<int>> outcomes;
    std::vector<std::unique_ptr<TzCloud>> clients;
    for (int i = 0; i < requestCount; ++i) {
        LoopbackHttpServer::Response response = LoopbackHttpServer::reply(200, R"({"ok":1})");
        response.delayMs = timeoutMs - 100 + 5 * i;
        server->script("/meet/" + QByteArray::number(i), response);
        clients.emplace_back(new TzCloud(server->baseUrl(), nullptr));
        TzCloud *cloud = clients.back().get();
        cloud->setRequestTimeout(timeoutMs);
        connect(cloud, &TzCloud::sigHttpRequestFinish, this,
                [&](const QString &path, const QJsonObject &) { outcomes[path] << successCode; });
        connect(cloud, &TzCloud::sigHttpRequestError, this,
                [&](const QString &path, int code) { outcomes[path] << code; });
    }
    // A first request each, so that every client has its network manager and a connection.
    for (int i = 0; i < requestCount; ++i)
        clients.at(i)->postRequest({}, "warm");
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.value("warm").size(), requestCount, 30000);
    outcomes.clear();
    for (int i = 0; i < requestCount; ++i)
        clients.at(i)->postRequest({}, "meet/" + QString::number(i));
    for (int waited = 0; outcomes.size() < requestCount && waited < 300; ++waited)
        QTest::qWait(100);
    QTest::qWait(2 * timeoutMs);
    QCOMPARE(outcomes.size(), requestCount);
    int timedOut = 0;
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it) {
        QVERIFY2(it.value().size() == 1, qPrintable(it.key()));
        const int code = it.value().first();
        QVERIFY2(code == successCode || code == TzCloud::RequestTimedOut,
                 qPrintable(it.key() + ": " + QString::number(code)));
        timedOut += code == TzCloud::RequestTimedOut ? 1 : 0;
    }
    qInfo("%d of %d requests timed out", timedOut, requestCount);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto &cloud : clients)
        QVERIFY(cloud->findChildren<QNetworkReply *>().isEmpty());
}

void TestTzCloud::reportsTwoOutstandingRequestsToOnePath()
{
    LoopbackHttpServer::Response slow = LoopbackHttpServer::reply(200, R"({"n":1})");
    slow.delayMs = 200;
    server->script("/same", slow);
    TzCloud cloud(server->baseUrl(), nullptr);
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    QSignalSpy failed(&cloud, SIGNAL(sigHttpRequestError(QString, int)));
    cloud.postRequest({{"i", "1"}}, "same");
    cloud.postRequest({{"i", "2"}}, "same");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    QTest::qWait(100);
    QCOMPARE(finished.size(), 2);
    QVERIFY(failed.isEmpty());
    QCOMPARE(finished.at(0).at(0).toString(), QStringLiteral("same"));
    QCOMPARE(finished.at(1).at(0).toString(), QStringLiteral("same"));
    QCOMPARE(server->requests.size(), 2);
}

void TestTzCloud::deliversRepliesToOnePathInTheOrderTheyFinish()
{
    // The first request posted is answered last.
    LoopbackHttpServer::Response slow = LoopbackHttpServer::reply(200, R"({"n":"first"})");
    slow.delayMs = 600;
    server->scriptByBody("/same", "i=1", slow);
    server->scriptByBody("/same", "i=2", LoopbackHttpServer::reply(200, R"({"n":"second"})"));
    TzCloud cloud(server->baseUrl(), nullptr);
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    cloud.postRequest({{"i", "1"}}, "same");
    cloud.postRequest({{"i", "2"}}, "same");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    QCOMPARE(finished.at(0).at(1).value<QJsonObject>().value("n").toString(),
             QStringLiteral("second"));
    QCOMPARE(finished.at(1).at(1).value<QJsonObject>().value("n").toString(),
             QStringLiteral("first"));
    QCOMPARE(finished.at(0).at(0).toString(), QStringLiteral("same"));
    QCOMPARE(finished.at(1).at(0).toString(), QStringLiteral("same"));
}

void TestTzCloud::stampsRequestsOfOneSecondAlike()
{
    TzCloud cloud(server->baseUrl(), nullptr);
    // Two posts within one second of the clock, as a retry loop would make them.
    qint64 second = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        server->requests.clear();
        second = QDateTime::currentMSecsSinceEpoch() / 1000;
        cloud.postRequest({{"i", "1"}}, "a");
        cloud.postRequest({{"i", "2"}}, "b");
        if (QDateTime::currentMSecsSinceEpoch() / 1000 == second)
            break;
    }
    QTRY_COMPARE(server->requests.size(), 2);
    const QRegularExpression time(QStringLiteral("resttime=(\\d+)"));
    const QString first = time.match(QString::fromUtf8(server->requests.at(0).body)).captured(1);
    const QString other = time.match(QString::fromUtf8(server->requests.at(1).body)).captured(1);
    QCOMPARE(first, QString::number(second));
    QCOMPARE(other, first);
}

void TestTzCloud::answersEachOfManyOutstandingRequestsOnce()
{
    constexpr int requestCount = 200;
    // Slow answers, resets, bytes that are not HTTP, and a 200 whose body is not JSON.
    QList<LoopbackHttpServer::Response> kinds;
    kinds << LoopbackHttpServer::reply(200, R"({"ok":1})");
    kinds.last().delayMs = 40;
    kinds << LoopbackHttpServer::Response();
    kinds.last().resetImmediately = true;
    kinds << LoopbackHttpServer::Response();
    static const char notHttp[] = "\x16\x03\x01 not http at all\r\n\r\n\xff\xfe";
    kinds.last().raw = QByteArray(notHttp, sizeof notHttp - 1);
    kinds.last().dropMidway = true;
    kinds << LoopbackHttpServer::reply(200, "{\"truncated\": [1, 2");
    for (int i = 0; i < requestCount; ++i)
        server->script("/stress/" + QByteArray::number(i), kinds.at(i % kinds.size()));

    TzCloud cloud(server->baseUrl(), nullptr);
    QHash<QString, int> outcomes;
    QStringList succeeded;
    connect(&cloud, &TzCloud::sigHttpRequestFinish, this,
            [&](const QString &path, const QJsonObject &object) {
                ++outcomes[path];
                if (object.value("ok").toInt() == 1)
                    succeeded << path;
            });
    connect(&cloud, &TzCloud::sigHttpRequestError, this,
            [&](const QString &path, int) { ++outcomes[path]; });
    for (int i = 0; i < requestCount; ++i)
        cloud.postRequest({{"i", QString::number(i)}}, "stress/" + QString::number(i));

    int total = 0;
    for (int waited = 0; total < requestCount && waited < 600; ++waited) {
        QTest::qWait(100);
        total = 0;
        for (int count : outcomes)
            total += count;
    }
    QTest::qWait(200);
    QCOMPARE(outcomes.size(), requestCount);
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    // Only the well-formed answers can succeed. Qt fails every request still queued for the
    // host when a connection errors, so how many of them do depends on the interleaving.
    for (const QString &path : succeeded)
        QCOMPARE(path.section('/', 1).toInt() % kinds.size(), 0);
}

void TestTzCloud::thousandRequestsLeaveNoObjectsBehind()
{
    TzCloud cloud(server->baseUrl(), nullptr);
    int answered = 0;
    connect(&cloud, &TzCloud::sigHttpRequestFinish, this, [&answered] { ++answered; });
    connect(&cloud, &TzCloud::sigHttpRequestError, this, [&answered] { ++answered; });
    const auto liveObjects = [&cloud] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return cloud.findChildren<QObject *>().size();
    };
    // Batches of 50 outstanding at a time, as a busy client would have.
    const auto runBatch = [&] {
        const int target = answered + 50;
        for (int i = 0; i < 50; ++i)
            cloud.postRequest({{"i", QString::number(i)}}, "batch");
        for (int waited = 0; answered < target && waited < 300; ++waited)
            QTest::qWait(20);
        return answered == target;
    };
    QVERIFY(runBatch());
    QTest::qWait(50);
    const int afterFirst = liveObjects();
    for (int batch = 1; batch < 20; ++batch)
        QVERIFY(runBatch());
    QTest::qWait(50);
    QCOMPARE(answered, 1000);
    QCOMPARE(server->requests.size(), 1000);
    QCOMPARE(liveObjects(), afterFirst);
}

void TestTzCloud::makesNetworkManagerForFirstRequest()
{
    // Nothing of the network layer is loaded for a client that never posts.
    TzCloud cloud(server->baseUrl(), nullptr);
    QVERIFY(cloud.findChildren<QNetworkAccessManager *>().isEmpty());
    QSignalSpy finished(&cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)));
    cloud.postRequest({}, "first");
    cloud.postRequest({}, "second");
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(cloud.findChildren<QNetworkAccessManager *>().size(), 1);
}

void TestTzCloud::survivesNestedEventLoopInReceiver()
{
    LoopbackHttpServer::Response slow = LoopbackHttpServer::reply(200, R"({"which":"slow"})");
    slow.delayMs = 300;
    server->script("/slow", slow);
    server->script("/fast", LoopbackHttpServer::reply(200, R"({"which":"fast"})"));

    TzCloud cloud(server->baseUrl(), nullptr);
    QStringList seen;
    bool nestedSawSecond = false;
    connect(&cloud, &TzCloud::sigHttpRequestFinish, this,
            [&](const QString &path, const QJsonObject &) {
                seen << path;
                if (seen.size() != 1)
                    return;
                // A receiver that waits in a nested loop, as a modal prompt would.
                QEventLoop loop;
                QTimer::singleShot(10000, &loop, &QEventLoop::quit);
                connect(&cloud, &TzCloud::sigHttpRequestFinish, &loop, [&] {
                    nestedSawSecond = true;
                    loop.quit();
                });
                loop.exec();
            });
    cloud.postRequest({}, "fast");
    cloud.postRequest({}, "slow");
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 15000);
    QVERIFY(nestedSawSecond);
    QCOMPARE(seen, (QStringList{"fast", "slow"}));
}

void TestTzCloud::readsHostFromVersionIni()
{
    writeVersionIni("[General]\ncloudHost=" + server->baseUrl().toUtf8() + "svc/\n");
    MessageCapture::install();
    TzCloud cloud(nullptr);
    MessageCapture::uninstall();
    QCOMPARE(MessageCapture::messages(), QStringList{"\"" + server->baseUrl() + "svc/\""});

    QString path;
    int code = -2;
    QJsonObject object;
    QVERIFY(postAndWait(cloud, "ping", {}, &path, &code, &object));
    QCOMPARE(path, QStringLiteral("svc/ping"));
    QCOMPARE(object.value("ok").toBool(), true);
}

void TestTzCloud::fallsBackToDefaultHost()
{
    const QString expected = QStringLiteral("\"https://cloud.lessa.example/api/\"");
    for (const QByteArray &content :
         {QByteArray(), QByteArray("cloudHost=\n"), QByteArray("NeedLog=1\n"),
          QByteArray("\xff\xfe\x00garbage", 10)}) {
        QFile::remove(versionIniPath());
        if (!content.isNull())
            writeVersionIni(content);
        MessageCapture::messages().clear();
        MessageCapture::install();
        TzCloud cloud(nullptr);
        MessageCapture::uninstall();
        QCOMPARE(MessageCapture::messages(), QStringList{expected});
        QCOMPARE(cloud.postRequest({}, "a/b"),
                 QStringLiteral("https://cloud.lessa.example/api/a/b"));
    }
    QVERIFY(QString::fromLatin1(TzCloud::defaultHost()).endsWith('/'));
}

void TestTzCloud::talksTlsOnlyToTrustedServer_data()
{
    QTest::addColumn<bool>("trustTestCa");
    QTest::addColumn<QByteArray>("server"); // the variable that holds its URL
    QTest::addColumn<int>("expectedCode");
    QTest::newRow("trusted certificate") << true << QByteArray("LESSA_TLS_URL") << successCode;
    QTest::newRow("certificate of an unknown CA")
        << false << QByteArray("LESSA_TLS_URL") << int(QNetworkReply::SslHandshakeFailedError);
    QTest::newRow("certificate for another address") << true << QByteArray("LESSA_TLS_MISNAMED_URL")
                                                     << int(QNetworkReply::SslHandshakeFailedError);
}

// Runs under tests/cloud/tls-server.py, which serves HTTPS with certificates of a CA it makes.
void TestTzCloud::talksTlsOnlyToTrustedServer()
{
    QFETCH(bool, trustTestCa);
    QFETCH(QByteArray, server);
    QFETCH(int, expectedCode);
    const QUrl url(qEnvironmentVariable(server.constData()));
    const QList<QSslCertificate> ca = QSslCertificate::fromData(qgetenv("LESSA_TLS_CA"));
    if (!url.isValid() || url.isEmpty() || ca.isEmpty())
        QSKIP("needs the HTTPS servers of tests/cloud/tls-server.py");

    const QSslConfiguration systemOnly = QSslConfiguration::defaultConfiguration();
    QSslConfiguration configuration = systemOnly;
    if (trustTestCa)
        configuration.setCaCertificates(systemOnly.caCertificates() + ca);
    QSslConfiguration::setDefaultConfiguration(configuration);
    TzCloud cloud(url.toString() + '/', nullptr);
    QString path;
    int code = -2;
    QJsonObject object;
    const bool once = postAndWait(cloud, "user/info", {{"a", "1"}}, &path, &code, &object);
    QSslConfiguration::setDefaultConfiguration(systemOnly);
    QVERIFY(once);
    QCOMPARE(path, QStringLiteral("user/info"));
    QCOMPARE(code, expectedCode);
    if (code == successCode)
        QCOMPARE(object.value("path").toString(), QStringLiteral("/user/info"));
}

QTEST_GUILESS_MAIN(TestTzCloud)
#include "TestTzCloud.moc"
