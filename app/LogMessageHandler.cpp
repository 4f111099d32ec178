#include "LogMessageHandler.h"
#include "LogPlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGlobalStatic>
#include <QMutex>
#include <QSettings>
#include <QTemporaryFile>

#include <atomic>
#include <cstdio>

namespace
{
using LogPlatform::FileStamp;
using LogPlatform::LocalTime;

// Destroyed while static objects are torn down at exit; the handler then tells by it that it
// must not touch anything else that may be gone.
Q_GLOBAL_STATIC(QMutex, logMutex)

std::atomic<LogClock> logClock{nullptr};
void (*settingsReadProbe)() = nullptr;

// Set while this thread is inside the handler. Anything the handler calls may raise a Qt
// message of its own, which would re-enter the handler on this thread and block on the
// non-recursive mutex it already holds.
thread_local bool handlerActive = false;

const char *levelLabel(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug:";
    case QtWarningMsg:
        return "Warning:";
    case QtCriticalMsg:
        return "Critical:";
    case QtFatalMsg:
        return "Fatal:";
    default:
        return "";
    }
}

// Everything the handler remembers between messages; only touched under logMutex.
struct LogState {
    QString organization, application;
    QString settingsFile;
    bool stampKnown = false;
    FileStamp stamp;
    bool pathConfigured = false;
    QString configuredPath;
    int settingsCopies = 0;
    QString lastRefused;
};

LogState &logState()
{
    // Never destroyed: it must outlive every static object that may still log at exit.
    static LogState *const state = new LogState;
    return *state;
}

// Resolved against the working directory at each write, by the system, not by Qt.
QString defaultDirectory()
{
    return QStringLiteral("log");
}

LocalTime localNow()
{
    if (const LogClock clock = logClock.load()) {
        const QDateTime now = clock();
        const QDate date = now.date();
        const QTime time = now.time();
        return {date.year(),   date.month(),  date.day(), time.hour(),
                time.minute(), time.second(), time.msec()};
    }
    return LogPlatform::localTime();
}

// QSettings keeps each file it has read in a per-process cache and reads it again only when
// its size or millisecond modification time differ, so an edit that keeps both would stay
// unseen. A copy under a name this process has never used has no cache entry. (The native
// format of a settings file, where there is one, is INI.)
QVariant readLogPath(LogState &state, const FileStamp &stamp)
{
    if (stamp.exists) {
        QFile original(state.settingsFile);
        QTemporaryFile copy(
            QDir::tempPath() +
            QStringLiteral("/log-settings-%1-XXXXXX.ini").arg(++state.settingsCopies));
        if (original.open(QIODevice::ReadOnly) && copy.open()) {
            const QByteArray content = original.readAll();
            if (copy.write(content) == content.size() && copy.flush()) {
                QSettings settings(copy.fileName(), QSettings::IniFormat);
                settings.setIniCodec("UTF-8");
                return settings.value(QStringLiteral("Log/Path"));
            }
        }
    }
    // The registry (no file, no such cache), or no room for the copy.
    QSettings settings;
    settings.setFallbacksEnabled(false);
    settings.setIniCodec("UTF-8");
    return settings.value(QStringLiteral("Log/Path"));
}

// Log/Path is read again only when the settings file has changed since the last message
// (on Windows the settings live in the registry, which has no such stamp: read every time).
// Only the application's own file counts: the fallback files (organisation-wide and
// system-wide) are not consulted, so no change there can go unnoticed.
QString logDirectory(LogState &state)
{
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    if (organization != state.organization || application != state.application ||
        state.settingsFile.isEmpty()) {
        state.organization = organization;
        state.application = application;
        state.settingsFile = QSettings().fileName();
        state.stampKnown = false;
    }
    // Stamp before reading: a save that lands while the file is read then differs from the
    // stamp kept, and the next message reads again.
    const FileStamp stamp = LogPlatform::stampOf(state.settingsFile);
    if (!state.stampKnown || !(stamp == state.stamp)) {
        const QVariant path = readLogPath(state, stamp);
        if (settingsReadProbe)
            settingsReadProbe();
        state.stamp = stamp;
        state.stampKnown = true;
        // An empty value, or one that reads as a list ("a,b"), would name the filesystem
        // root or nothing: it counts as no value.
        state.pathConfigured = path.type() == QVariant::String && !path.toString().isEmpty();
        state.configuredPath = path.toString();
    }
    return state.pathConfigured ? state.configuredPath : defaultDirectory();
}

void appendTwoDigits(QString &text, int value)
{
    text += QLatin1Char(char('0' + value / 10 % 10));
    text += QLatin1Char(char('0' + value % 10));
}

void appendTwoDigits(QByteArray &text, int value)
{
    text += char('0' + value / 10 % 10);
    text += char('0' + value % 10);
}

QString fileNameFor(const LocalTime &time)
{
    QString name = QStringLiteral("log_");
    appendTwoDigits(name, time.month);
    name += QLatin1Char('-');
    appendTwoDigits(name, time.day);
    name += QLatin1Char('_');
    appendTwoDigits(name, time.hour);
    appendTwoDigits(name, time.minute);
    name += QStringLiteral(".txt");
    return name;
}

// A refused name (a link or no regular file, maybe planted there) is never written through,
// and its lines are not lost without trace either: they go to standard error, the first one for
// each such name after a line that says why. Written by the C library: a Qt message would come
// back into this handler.
void showRefusedLine(const QString &path, const QByteArray &bytes, QString *lastRefused)
{
    if (!lastRefused || *lastRefused != path) {
        std::fprintf(stderr,
                     "Log: %s is a symbolic link or not a regular file: not written to, its "
                     "lines follow here.\n",
                     LogPlatform::toLocaleEncoding(path).constData());
        if (lastRefused)
            *lastRefused = path;
    }
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

// The common case costs one open; a missing directory is made again, and a place where
// none can be made falls back to the bare name in the working directory.
// An unwritable place loses the line and nothing else: nothing here reports that failure.
// lastRefused, null without the lock, is the last name refused.
void writeLine(const QString &directory, const QString &fileName, const QByteArray &bytes,
               QString *lastRefused)
{
    using LogPlatform::AppendResult;
    QString path = directory + QLatin1Char('/') + fileName;
    AppendResult result = LogPlatform::appendToFile(path, bytes);
    if (result == AppendResult::Failed) {
        if (!LogPlatform::isDirectory(directory))
            LogPlatform::makePath(directory);
        if (!LogPlatform::isDirectory(directory))
            path = fileName;
        result = LogPlatform::appendToFile(path, bytes);
    }
    if (result == AppendResult::Refused)
        showRefusedLine(path, bytes, lastRefused);
}
} // namespace

void setLogClock(LogClock clock)
{
    logClock.store(clock);
}

void setLogSettingsReadProbe(void (*probe)())
{
    settingsReadProbe = probe;
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (handlerActive) {
        std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
        return;
    }
    handlerActive = true;

    // Without the application object (before it, after it, and while static objects are torn
    // down at exit) its names, QSettings and Qt's text codecs may be gone: the line goes to the
    // default directory, encoded by the system.
    const bool withoutApplication = logMutex.isDestroyed() || !QCoreApplication::instance();

    // Everything but the time is formatted before taking the lock, so that threads only
    // queue for the clock and the file. Text is in the locale's encoding, as a QTextStream
    // on the file would write it; msg goes in as it is, "%1" and all.
    QString tail;
    tail.reserve(msg.size() + 64);
    tail += QLatin1Char(' ');
    tail += QLatin1String(levelLabel(type));
    tail += QLatin1Char(' ');
    tail += msg;
    tail += QLatin1String(" (");
    if (context.file)
        tail += QString::fromUtf8(context.file);
    tail += QLatin1Char(' ');
    tail += QString::number(context.line);
    tail += QLatin1String(")\r\n");
    const QByteArray tailBytes =
        withoutApplication ? LogPlatform::toLocaleEncoding(tail) : tail.toLocal8Bit();

    // Null once destroyed at exit: the line is still written, unlocked, and touches no state.
    QMutex *const mutex = logMutex();
    if (mutex)
        mutex->lock();

    // "hh:mm:ss zzz LEVEL msg (file line)"
    const LocalTime time = localNow();
    QByteArray line;
    line.reserve(12 + tailBytes.size());
    appendTwoDigits(line, time.hour);
    line += ':';
    appendTwoDigits(line, time.minute);
    line += ':';
    appendTwoDigits(line, time.second);
    line += ' ';
    line += char('0' + time.msec / 100);
    appendTwoDigits(line, time.msec);
    line += tailBytes;
    const QString directory =
        withoutApplication || !mutex ? defaultDirectory() : logDirectory(logState());

    // Still under the lock: lines reach the file in the order of their times, and a fatal
    // message's abort cannot overtake a line that another thread has already stamped.
    writeLine(directory, fileNameFor(time), line, mutex ? &logState().lastRefused : nullptr);
    if (mutex)
        mutex->unlock();
    handlerActive = false;
}
