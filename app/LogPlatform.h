#ifndef LOGPLATFORM_H
#define LOGPLATFORM_H

// The file log handler's calls into the operating system, one source file per platform.
// Nothing here uses Qt's application object, settings or text codecs, so all of it stays
// safe while static objects are torn down at exit.

#include <QByteArray>
#include <QString>

namespace LogPlatform
{
struct LocalTime {
    int year, month, day, hour, minute, second, msec;
};

// What identifies one version of a file. QSettings replaces the file on every save, and an
// editor that writes in place changes the change time, so a new version shows here even when
// its size and modification time are those of the old one.
struct FileStamp {
    // False where the settings are no file (the Windows registry): such a stamp equals none.
    bool comparable = false;
    bool exists = false;
    qint64 device = 0, inode = 0, size = 0, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileStamp &other) const
    {
        return comparable && other.comparable && exists == other.exists && device == other.device &&
               inode == other.inode && size == other.size && modifiedNs == other.modifiedNs &&
               changedNs == other.changedNs;
    }
};

// The wall clock in the system's current time zone.
LocalTime localTime();

FileStamp stampOf(const QString &path);

bool isDirectory(const QString &path);

// Creates the directory and its missing parents; failures show in isDirectory afterwards.
void makePath(const QString &path);

enum class AppendResult {
    Written,
    // Not opened (no such directory, no right to write there): somewhere else may do.
    Failed,
    // The name is a symbolic link or no regular file (POSIX only). Whoever may write the
    // directory could have planted it there: nothing was written, nor created at a link's target.
    Refused
};

// Appends the bytes in one open, write and close, every write landing at the end of the file
// even when other processes append to it at the same time.
AppendResult appendToFile(const QString &path, const QByteArray &bytes);

// The text in the locale's encoding, for when Qt's codecs may already be gone.
QByteArray toLocaleEncoding(const QString &text);
} // namespace LogPlatform

#endif // LOGPLATFORM_H
