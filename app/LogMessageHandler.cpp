#include "LogMessageHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGlobalStatic>
#include <QMutex>
#include <QSettings>

#include <atomic>
#include <cstdio>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace
{
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

// What identifies one version of the settings file: QSettings replaces the file on every
// save, so a change shows in the inode, the modification time or the size.
struct FileStamp {
    bool exists = false;
    qint64 device = 0, inode = 0, size = 0, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileStamp &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// Everything the handler remembers between messages; only touched under logMutex.
struct LogState {
    QString organization, application;
    QByteArray settingsFile;
    bool stampKnown = false;
    FileStamp stamp;
    bool pathConfigured = false;
    QString configuredPath;
    qint64 minute = -1;
    QString fileName;
    qint64 zoneCheckedMinute = -1;
};

struct LocalTime {
    int year, month, day, hour, minute, second, msec;
};

LogState &logState()
{
    // Never destroyed: a message may still arrive while static objects are torn down.
    static LogState *const state = new LogState;
    return *state;
}

// The wall clock in local time. Qt re-reads the time zone on every conversion, three times
// a line; the system clock path below re-reads it once a minute instead.
LocalTime localNow(LogState &state)
{
    const LogClock clock = logClock.load();
#ifndef Q_OS_WIN
    if (!clock) {
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (now.tv_sec / 60 != state.zoneCheckedMinute) {
            state.zoneCheckedMinute = now.tv_sec / 60;
            ::tzset();
        }
        tm parts;
        if (::localtime_r(&now.tv_sec, &parts)) {
            return {parts.tm_year + 1900,
                    parts.tm_mon + 1,
                    parts.tm_mday,
                    parts.tm_hour,
                    parts.tm_min,
                    parts.tm_sec,
                    int(now.tv_nsec / 1000000)};
        }
    }
#else
    Q_UNUSED(state)
#endif
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return {date.year(),   date.month(),  date.day(), time.hour(),
            time.minute(), time.second(), time.msec()};
}

FileStamp stampOf(const QByteArray &path)
{
    FileStamp stamp;
#ifndef Q_OS_WIN
    struct stat info;
    if (::stat(path.constData(), &info) == 0) {
        stamp.exists = true;
        stamp.device = qint64(info.st_dev);
        stamp.inode = qint64(info.st_ino);
        stamp.size = qint64(info.st_size);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    }
#else
    Q_UNUSED(path);
#endif
    return stamp;
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
        state.settingsFile = QFile::encodeName(QSettings().fileName());
        state.stampKnown = false;
    }
    // Stamp before reading: a save that lands while QSettings reads then differs from the
    // stamp kept, and the next message reads again.
    const FileStamp stamp = stampOf(state.settingsFile);
#ifdef Q_OS_WIN
    const bool reread = true;
#else
    const bool reread = !state.stampKnown || !(stamp == state.stamp);
#endif
    if (reread) {
        QSettings settings;
        settings.setFallbacksEnabled(false);
        settings.setIniCodec("UTF-8");
        const QVariant path = settings.value(QStringLiteral("Log/Path"));
        if (settingsReadProbe)
            settingsReadProbe();
        state.stamp = stamp;
        state.stampKnown = true;
        state.pathConfigured = path.isValid();
        state.configuredPath = path.toString();
    }
    return state.pathConfigured ? state.configuredPath
                                : QDir::currentPath() + QStringLiteral("/log");
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

const QString &fileNameFor(LogState &state, const LocalTime &time)
{
    const qint64 minute = ((qint64(time.year) * 13 + time.month) * 32 + time.day) * 1440 +
                          time.hour * 60 + time.minute;
    if (minute != state.minute) {
        state.minute = minute;
        state.fileName = QStringLiteral("log_");
        appendTwoDigits(state.fileName, time.month);
        state.fileName += QLatin1Char('-');
        appendTwoDigits(state.fileName, time.day);
        state.fileName += QLatin1Char('_');
        appendTwoDigits(state.fileName, time.hour);
        appendTwoDigits(state.fileName, time.minute);
        state.fileName += QStringLiteral(".txt");
    }
    return state.fileName;
}

// One open, write and close: the line is in the closed file when this returns.
bool appendToFile(const QString &path, const QByteArray &bytes)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    ::close(fd);
    return true;
#else
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.write(bytes);
    file.close();
    return true;
#endif
}

// The common case costs one open; a missing directory is made again, and a place where
// none can be made falls back to the bare name in the working directory.
// An unwritable place loses the line and nothing else: nothing here reports failure.
void writeLine(const QString &directory, const QString &fileName, const QByteArray &bytes)
{
    if (appendToFile(directory + QLatin1Char('/') + fileName, bytes))
        return;
    if (!QDir(directory).exists())
        QDir().mkpath(directory);
    if (QDir(directory).exists())
        appendToFile(directory + QLatin1Char('/') + fileName, bytes);
    else
        appendToFile(fileName, bytes);
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
    const QByteArray tailBytes = tail.toLocal8Bit();

    // Null only while static objects are torn down at exit; the line is still written.
    QMutex *mutex = logMutex();
    if (mutex)
        mutex->lock();

    // "hh:mm:ss zzz LEVEL msg (file line)"
    LogState &state = logState();
    const LocalTime time = localNow(state);
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
    const QString directory = logDirectory(state);
    const QString fileName = fileNameFor(state, time);

    // Still under the lock: lines reach the file in the order of their times, and a fatal
    // message's abort cannot overtake a line that another thread has already stamped.
    writeLine(directory, fileName, line);
    if (mutex)
        mutex->unlock();
    handlerActive = false;
}
