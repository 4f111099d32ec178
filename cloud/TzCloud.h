#ifndef TZCLOUD_H
#define TZCLOUD_H

#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Client of the cloud web service: posts MD5-signed, form-encoded parameter sets and reports
// each reply, by its API path, as a decoded JSON object or a network error code.
class TzCloud : public QObject
{
    Q_OBJECT

public:
    // Base URL from cloudHost in version.ini beside the executable, else the default.
    explicit TzCloud(QObject *parent);
    // An explicit base URL; an empty one selects the default.
    TzCloud(const QString &host, QObject *parent);
    ~TzCloud() override;

    // The code sigHttpRequestError carries for a request that the time-out ended. The signal
    // otherwise carries QNetworkReply::NetworkError values, none of which is negative.
    static constexpr int RequestTimedOut = -1;
    static constexpr int DefaultRequestTimeoutMs = 30000;

    static const char *defaultHost();
    // cloudHost from version.ini beside the executable, or an empty string.
    static QString configuredHost();

    QString postRequest(QMap<QString, QString> params, QString apiPath);

    // How long a request may take from posting to its last byte before it is aborted and
    // reported as RequestTimedOut; 0 lets it run for ever. Applies to requests posted later.
    void setRequestTimeout(int milliseconds);
    int requestTimeout() const { return m_requestTimeoutMs; }

    // The request steps, public so that tools and tests can reproduce a body exactly.
    static QMap<QString, QString> signParams(QMap<QString, QString> params);
    static QByteArray buildPostData(QMap<QString, QString> params);
    static QString urlEncode(QString value);
    static QString md5Hex(QString text);

signals:
    void sigHttpRequestFinish(QString, QJsonObject);
    void sigHttpRequestError(QString, int);

public slots:
    void sltFinish(QNetworkReply *reply);

private:
    QNetworkAccessManager *networkManager();

    QString m_host;
    QNetworkAccessManager *m_networkManager = nullptr;
    QMutex m_mutex;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
};

#endif // TZCLOUD_H
