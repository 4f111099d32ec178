#include "LogMessageHandler.h"

#include <QDir>
#include <QFile>
#include <QGlobalStatic>
#include <QMutex>
#include <QSettings>
#include <QTextStream>

#include <atomic>
#include <cstdio>

namespace
{
Q_GLOBAL_STATIC(QMutex, logMutex)

std::atomic<LogClock> logClock{nullptr};

// Set while this thread is inside the handler. Anything the handler calls may raise a Qt
// message of its own, which would re-enter the handler on this thread and block on the
// non-recursive mutex it already holds.
thread_local bool handlerActive = false;

QDateTime now()
{
    const LogClock clock = logClock.load();
    return clock ? clock() : QDateTime::currentDateTime();
}

QString levelLabel(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    default:
        return QString();
    }
}

QString logDirectory()
{
    QSettings settings;
    settings.setIniCodec("UTF-8");
    settings.beginGroup(QStringLiteral("Log"));
    const QString path =
        settings.value(QStringLiteral("Path"), QDir::currentPath() + QStringLiteral("/log"))
            .toString();
    settings.endGroup();
    return path;
}

void writeLine(const QString &line)
{
    const QString directory = logDirectory();
    if (!QDir(directory).exists())
        QDir().mkpath(directory);

    const QString fileName =
        QStringLiteral("log_") + now().toString(QStringLiteral("MM-dd_hhmm")) + ".txt";
    const QString filePath =
        QDir(directory).exists() ? directory + QLatin1Char('/') + fileName : fileName;

    // An unwritable place loses the line and nothing else: nothing here reports failure.
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << line << "\r\n";
    stream.flush();
    file.close();
}
} // namespace

void setLogClock(LogClock clock)
{
    logClock.store(clock);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (handlerActive) {
        std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
        return;
    }
    handlerActive = true;

    // Null only while static objects are torn down at exit; the line is still written.
    QMutex *mutex = logMutex();
    if (mutex)
        mutex->lock();

    const QString contextText = QStringLiteral("(%1 %2)").arg(
        QString::fromUtf8(context.file ? context.file : ""), QString::number(context.line));
    const QString time = now().toString(QStringLiteral("hh:mm:ss zzz"));
    // The multi-argument arg() substitutes once, so a "%1" inside msg stays as it is.
    const QString line =
        QStringLiteral("%1 %2 %3 %4").arg(time, levelLabel(type), msg, contextText);
    writeLine(line);

    if (mutex)
        mutex->unlock();
    handlerActive = false;
}
