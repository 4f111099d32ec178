#include "CloudPostCommand.h"

#include "ConsoleWriter.h"
#include "TzCloud.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QNetworkReply>

namespace
{
// Characters that split or hide text where a name is shown (in a log, in a message): control
// characters, and invisible or reordering ones such as U+200B, U+202E and U+2028.
bool hidesText(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Other_Format ||
           category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
}

// Names go into the body unencoded, as the service expects: one holding '&' or '=' would
// smuggle in a parameter of its own, a control or format character would split or hide one.
bool validName(const QString &name)
{
    for (const QChar c : name) {
        if (c == QLatin1Char('&') || c == QLatin1Char('=') || hidesText(c))
            return false;
    }
    return true;
}

// The name as it can be shown in a message, control characters as \xNN.
QString printableName(const QString &name)
{
    QString shown;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (hidesText(c))
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
} // namespace

CloudPostCommand::CloudPostCommand(FILE *outStream, FILE *errStream, QObject *parent)
    : QObject(parent), out(outStream), err(errStream)
{
}

int CloudPostCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Posts one signed request to the cloud web service and prints the outcome.\n"
        "On success the reply object is printed as JSON on stdout (exit 0). On failure the\n"
        "network error code and its Qt name go to stderr (exit 1). A request that does not\n"
        "finish within the time-out is abandoned (exit 3). Bad arguments exit with 2.\n"
        "On a Windows console the text is written as Unicode, so Chinese shows whatever the\n"
        "console's code page; into a pipe or a file it is written as UTF-8."));
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
        ConsoleWriter::writeLine(err, parser.errorText());
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        ConsoleWriter::writeLine(out, parser.helpText());
        return Success;
    }

    bool validTimeout = false;
    timeoutSeconds = parser.value(timeoutOption).toInt(&validTimeout);
    const QStringList positional = parser.positionalArguments();
    if (!validTimeout || timeoutSeconds <= 0 || timeoutSeconds > MaxTimeoutSeconds) {
        ConsoleWriter::writeLine(
            err, QStringLiteral("--timeout must be a whole number of seconds from 1 to %1")
                     .arg(MaxTimeoutSeconds));
        return UsageError;
    }
    if (positional.isEmpty()) {
        ConsoleWriter::writeLine(err, parser.helpText());
        return UsageError;
    }

    QMap<QString, QString> params;
    for (const QString &pair : positional.mid(1)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            ConsoleWriter::writeLine(err,
                                     QStringLiteral("not a key=value parameter: %1").arg(pair));
            return UsageError;
        }
        const QString name = pair.left(equals);
        if (!validName(name)) {
            ConsoleWriter::writeLine(
                err, QStringLiteral("a parameter name must not contain '&', '=' or a "
                                    "control character: %1")
                         .arg(printableName(name)));
            return UsageError;
        }
        params.insert(name, pair.mid(equals + 1));
    }

    const QString host =
        parser.isSet(hostOption) ? parser.value(hostOption) : TzCloud::configuredHost();
    cloud = new TzCloud(host, this);
    connect(cloud, SIGNAL(sigHttpRequestFinish(QString, QJsonObject)), this,
            SLOT(onFinished(QString, QJsonObject)));
    connect(cloud, SIGNAL(sigHttpRequestError(QString, int)), this, SLOT(onError(QString, int)));
    // The client's own time-out ends the request, reported as TzCloud::RequestTimedOut.
    cloud->setRequestTimeout(timeoutSeconds * 1000);
    cloud->postRequest(params, positional.first());
    QCoreApplication::exec();
    return exitCode;
}

void CloudPostCommand::onFinished(const QString &, const QJsonObject &object)
{
    finish(Success, out,
           QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed());
}

void CloudPostCommand::onError(const QString &, int code)
{
    if (code == TzCloud::RequestTimedOut) {
        finish(TimedOut, err, QStringLiteral("timed out after %1 s").arg(timeoutSeconds));
        return;
    }
    const char *name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
    QString message = QStringLiteral("error %1: %2")
                          .arg(code)
                          .arg(QString::fromLatin1(name ? name : "UnknownError"));
    if (code == QNetworkReply::NoError)
        message += QStringLiteral(" (the reply was not HTTP 200 with a JSON document)");
    finish(RequestFailed, err, message);
}

void CloudPostCommand::finish(int code, FILE *stream, const QString &text)
{
    if (finished)
        return;
    finished = true;
    ConsoleWriter::writeLine(stream, text);
    exitCode = code;
    QCoreApplication::exit(code);
}
