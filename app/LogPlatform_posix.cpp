#include "LogPlatform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace LogPlatform
{
namespace
{
std::atomic<qint64> zoneCheckedMinute{-1};

// An ASCII name is the same in every locale encoding: no codec needed, even at exit.
QByteArray nativeName(const QString &path)
{
    for (const QChar c : path) {
        if (c.unicode() >= 0x80)
            return QFile::encodeName(path);
    }
    return path.toLatin1();
}
} // namespace

LocalTime localTime()
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    // localtime_r does not look at the time zone again, and tzset costs a file read: once a
    // minute is enough to follow a change of zone.
    const qint64 minute = now.tv_sec / 60;
    if (zoneCheckedMinute.exchange(minute) != minute)
        ::tzset();
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
    const QDateTime fallback = QDateTime::currentDateTime();
    const QDate date = fallback.date();
    const QTime time = fallback.time();
    return {date.year(),   date.month(),  date.day(), time.hour(),
            time.minute(), time.second(), time.msec()};
}

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
    stamp.comparable = true;
    struct stat info;
    if (::stat(nativeName(path).constData(), &info) == 0) {
        stamp.exists = true;
        stamp.device = qint64(info.st_dev);
        stamp.inode = qint64(info.st_ino);
        stamp.size = qint64(info.st_size);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    }
    return stamp;
}

bool isDirectory(const QString &path)
{
    struct stat info;
    return ::stat(nativeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

void makePath(const QString &path)
{
    // Cleaned as QDir::mkpath does, so that "a/../b" makes no "a".
    const QString clean = QDir::cleanPath(path);
    for (int slash = clean.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = clean.indexOf(QLatin1Char('/'), slash + 1))
        ::mkdir(nativeName(clean.left(slash)).constData(), 0777);
    ::mkdir(nativeName(clean).constData(), 0777);
}

AppendResult appendToFile(const QString &path, const QByteArray &bytes)
{
    // O_APPEND: the kernel moves every write to the end, so processes never overwrite lines.
    // O_NOFOLLOW: a link planted at the name would have the lines appended to, or a file
    // created at, any path this process may write. O_NONBLOCK: a FIFO there would block the
    // open until someone read it.
    const QByteArray name = nativeName(path);
    constexpr int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(name.constData(), flags | O_NONBLOCK, 0666);
    // A lease another process holds (Samba, an NFS server) is broken, not waited for, under
    // O_NONBLOCK: then wait as any writer would.
    if (fd < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        fd = ::open(name.constData(), flags, 0666);
    if (fd < 0) {
        // ELOOP: a link; ENXIO: a FIFO without a reader, or a socket; EISDIR: a directory.
        return errno == ELOOP || errno == ENXIO || errno == EISDIR ? AppendResult::Refused
                                                                   : AppendResult::Failed;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return AppendResult::Refused;
    }
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    bool blocking = false;
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        // A regular file: where a file system honours O_NONBLOCK, wait as any writer would
        // rather than give up half-way (elsewhere this costs no call).
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !blocking) {
            blocking = ::fcntl(fd, F_SETFL, O_APPEND) == 0;
            if (blocking)
                continue;
        }
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    ::close(fd);
    return AppendResult::Written;
}

QByteArray toLocaleEncoding(const QString &text)
{
    // The C library's converter follows the locale that QCoreApplication set up.
    const std::wstring wide = text.toStdWString();
    QByteArray bytes;
    bytes.reserve(int(wide.size()));
    std::mbstate_t state = std::mbstate_t();
    char buffer[MB_LEN_MAX];
    for (const wchar_t c : wide) {
        const size_t length = std::wcrtomb(buffer, c, &state);
        if (length == size_t(-1)) {
            bytes += '?';
            state = std::mbstate_t();
        } else {
            bytes.append(buffer, int(length));
        }
    }
    return bytes;
}
} // namespace LogPlatform
