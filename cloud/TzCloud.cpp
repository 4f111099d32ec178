#include "TzCloud.h"

#include "VersionIni.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QMessageLogger>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVariant>

namespace
{
const char *const sharedSecret = "9e07b1c4d36f";
const char *const clientSessionKey = "deskagent";
// The mark the time-out leaves on a reply it aborted (which Qt reports as cancelled).
const char *const timedOutProperty = "tzCloudTimedOut";

// The path follows the base directly, as the service's callers expect of a base ending in "/";
// only where neither side has a "/" is one put in between, or a bare "http://h:1" followed by
// "x" would become the host "h:1x" (and "http://h/api" the path "apix").
QString joinUrl(const QString &base, const QString &path)
{
    if (path.isEmpty() || base.endsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('/')))
        return base + path;
    return base + QLatin1Char('/') + path;
}
} // namespace

TzCloud::TzCloud(QObject *parent) : TzCloud(configuredHost(), parent) {}

TzCloud::TzCloud(const QString &host, QObject *parent) : QObject(parent)
{
    m_host = host.isEmpty() ? QString::fromLatin1(defaultHost()) : host;
    QMessageLogger().debug() << m_host;
}

QNetworkAccessManager *TzCloud::networkManager()
{
    // Made for the first request: constructing it loads Qt's bearer plugins, a cost that the
    // main window, which owns a client from the start, should not pay before it is shown.
    if (!m_networkManager) {
        m_networkManager = new QNetworkAccessManager(this);
#if QT_VERSION >= QT_VERSION_CHECK(5, 9, 0)
        // A redirect is an answer of its own (error 0), whatever a Qt version's default is.
        m_networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
#endif
        connect(m_networkManager, SIGNAL(finished(QNetworkReply *)), this,
                SLOT(sltFinish(QNetworkReply *)));
    }
    return m_networkManager;
}

TzCloud::~TzCloud() = default;

const char *TzCloud::defaultHost()
{
    return "https://cloud.lessa.example/api/";
}

QString TzCloud::configuredHost()
{
    QSettings versionIni(VersionIni::path(), QSettings::IniFormat);
    versionIni.setIniCodec("UTF-8");
    return versionIni.value(QStringLiteral("cloudHost"), QString()).toString();
}

QString TzCloud::postRequest(QMap<QString, QString> params, QString apiPath)
{
    const QUrl url(joinUrl(m_host, apiPath), QUrl::TolerantMode);
    QNetworkRequest request(url);
    // The type the network layer would choose anyway; naming it spares a warning per post.
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = networkManager()->post(request, buildPostData(params));
    if (m_requestTimeoutMs > 0) {
        // Qt 5.9 has no transfer time-out of its own. The timer is the reply's child, so it
        // goes with the reply; aborting emits finished(), which sltFinish reports. A reply that
        // finished first is left alone.
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, reply, [reply] {
            if (reply->isFinished())
                return;
            reply->setProperty(timedOutProperty, true);
            reply->abort();
        });
        timer->start(m_requestTimeoutMs);
    }
    return url.toString();
}

void TzCloud::setRequestTimeout(int milliseconds)
{
    m_requestTimeoutMs = qMax(0, milliseconds);
}

QMap<QString, QString> TzCloud::signParams(QMap<QString, QString> params)
{
    params.insert(QStringLiteral("sessionkey"), QString::fromLatin1(clientSessionKey));
    params.insert(QStringLiteral("resttime"),
                  QString::number(QDateTime::currentMSecsSinceEpoch() / 1000));

    QString signingText;
    for (auto it = params.begin(); it != params.end(); ++it) {
        const QString encoded = urlEncode(it.value());
        signingText += it.key() + QLatin1Char('=') + encoded + QLatin1Char('&');
        it.value() = encoded;
    }
    signingText += QLatin1String(sharedSecret);
    params.insert(QStringLiteral("restauth"), md5Hex(signingText));
    return params;
}

QByteArray TzCloud::buildPostData(QMap<QString, QString> params)
{
    const QMap<QString, QString> signedParams = signParams(params);
    QString body;
    for (auto it = signedParams.constBegin(); it != signedParams.constEnd(); ++it) {
        if (it != signedParams.constBegin())
            body += QLatin1Char('&');
        body += it.key() + QLatin1Char('=') + it.value();
    }
    return body.toUtf8();
}

QString TzCloud::urlEncode(QString value)
{
    if (value.isEmpty())
        return value;
    QString encoded = QString::fromLatin1(value.toUtf8().toPercentEncoding());
    return encoded.replace(QLatin1String("%20"), QLatin1String("+"));
}

QString TzCloud::md5Hex(QString text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

void TzCloud::sltFinish(QNetworkReply *reply)
{
    QString path;
    int errorCode = 0;
    bool succeeded = false;
    QJsonObject object;
    {
        // One reply at a time; the signals go out after unlocking, so a receiver that spins
        // a nested event loop can let another reply finish here without deadlocking.
        QMutexLocker locker(&m_mutex);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        path = reply->url().path(QUrl::FullyDecoded).mid(1);
        errorCode = reply->property(timedOutProperty).toBool() ? RequestTimedOut : reply->error();
        if (status.isValid() && status.toInt() == 200 && errorCode == QNetworkReply::NoError) {
            QJsonParseError parseError;
            const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &parseError);
            if (parseError.error == QJsonParseError::NoError && !document.isNull() &&
                !document.isEmpty()) {
                object = document.object(); // an array gives an empty object
                succeeded = true;
            }
        }
        reply->deleteLater();
    }
    if (succeeded)
        emit sigHttpRequestFinish(path, object);
    else
        emit sigHttpRequestError(path, errorCode);
}
