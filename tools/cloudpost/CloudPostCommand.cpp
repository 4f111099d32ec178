#include "CloudPostCommand.h"

#include "TzCloud.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

namespace
{
void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
} // namespace

CloudPostCommand::CloudPostCommand(QObject *parent) : QObject(parent) {}

int CloudPostCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Posts one signed request to the cloud web service and prints the outcome.\n"
        "On success the reply object is printed as JSON on stdout (exit 0). On failure the\n"
        "network error code and its Qt name go to stderr (exit 1). A request that does not\n"
        "finish within the time-out is abandoned (exit 3). Bad arguments exit with 2."));
    parser.addHelpOption();
    const QCommandLineOption hostOption(
        QStringLiteral("host"),
        QStringLiteral("Base URL of the service, ending in \"/\". Default: cloudHost from "
                       "version.ini beside this tool, else the built-in default."),
        QStringLiteral("URL"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"), QStringLiteral("Give up after this many seconds (default 30)."),
        QStringLiteral("SECONDS"), QStringLiteral("30"));
    parser.addOption(hostOption);
    parser.addOption(timeoutOption);
    parser.addPositionalArgument(QStringLiteral("API_PATH"),
                                 QStringLiteral("Path below the base URL, such as user/info."));
    parser.addPositionalArgument(QStringLiteral("key=value"),
                                 QStringLiteral("Request parameters, any number."),
                                 QStringLiteral("[key=value ...]"));

    if (!parser.parse(arguments)) {
        printTo(stderr, parser.errorText());
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printTo(stdout, parser.helpText());
        return Success;
    }

    bool validTimeout = false;
    timeoutSeconds = parser.value(timeoutOption).toInt(&validTimeout);
    const QStringList positional = parser.positionalArguments();
    if (!validTimeout || timeoutSeconds <= 0 || timeoutSeconds > MaxTimeoutSeconds) {
        printTo(stderr, QStringLiteral("--timeout must be a whole number of seconds from 1 to %1")
                            .arg(MaxTimeoutSeconds));
        return UsageError;
    }
    if (positional.isEmpty()) {
        printTo(stderr, parser.helpText());
        return UsageError;
    }

    QMap<QString, QString> params;
    for (const QString &pair : positional.mid(1)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            printTo(stderr, QStringLiteral("not a key=value parameter: %1").arg(pair));
            return UsageError;
        }
        params.insert(pair.left(equals), pair.mid(equals + 1));
    }

    const QString host =
        parser.isSet(hostOption) ? parser.value(hostOption) : TzCloud::configuredHost();
    cloud = new TzCloud(host, this);
    connect(cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)), this,
            SLOT(onFinished(QString, QJsonObject)));
    connect(cloud, SIGNAL(sigHttpRequestError(QString, int)), this, SLOT(onError(QString, int)));
    cloud->postRequest(params, positional.first());
    QTimer::singleShot(timeoutSeconds * 1000, this, SLOT(onTimeout()));
    QCoreApplication::exec();
    return exitCode;
}

void CloudPostCommand::onFinished(const QString &, const QJsonObject &object)
{
    printTo(stdout,
            QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed());
    finish(Success);
}

void CloudPostCommand::onError(const QString &, int code)
{
    const char *name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
    QString message = QStringLiteral("error %1: %2")
                          .arg(code)
                          .arg(QString::fromLatin1(name ? name : "UnknownError"));
    if (code == QNetworkReply::NoError)
        message += QStringLiteral(" (the reply was not HTTP 200 with a JSON document)");
    printTo(stderr, message);
    finish(RequestFailed);
}

void CloudPostCommand::onTimeout()
{
    printTo(stderr, QStringLiteral("timed out after %1 s").arg(timeoutSeconds));
    finish(TimedOut);
}

void CloudPostCommand::finish(int code)
{
    exitCode = code;
    QCoreApplication::exit(code);
}
