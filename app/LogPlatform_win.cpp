#include "LogPlatform.h"

#include <QDir>

#include <qt_windows.h>

#include <string>

namespace LogPlatform
{
namespace
{
// Longer paths only work in the \\?\ form, which takes a full path with backslashes.
std::wstring nativePath(const QString &path)
{
    const std::wstring wide = path.toStdWString();
    // MAX_PATH - 12 is the limit of CreateDirectoryW, the lowest of the calls used here.
    if (wide.size() < MAX_PATH - 12 || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(wide.c_str(), size, &full[0], nullptr));
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC" + full.substr(1);
    return L"\\\\?\\" + full;
}
} // namespace

LocalTime localTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

FileStamp stampOf(const QString &path)
{
    // The settings live in the registry, which keeps no stamp: every stamp differs.
    Q_UNUSED(path)
    return FileStamp();
}

bool isDirectory(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void makePath(const QString &path)
{
    // Cleaned as QDir::mkpath does; "C:" and "//server" fail harmlessly on the way down.
    const QString clean = QDir::cleanPath(path);
    for (int slash = clean.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = clean.indexOf(QLatin1Char('/'), slash + 1))
        CreateDirectoryW(nativePath(clean.left(slash)).c_str(), nullptr);
    CreateDirectoryW(nativePath(clean).c_str(), nullptr);
}

AppendResult appendToFile(const QString &path, const QByteArray &bytes)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA is Windows' O_APPEND: every write goes to the
    // end of the file. That is atomic on a local disk but not everywhere (Wine emulates it
    // with a size query and a positioned write), so writers also take turns on a lock of one
    // byte far beyond any log's end, which no reader ever touches. Locking needs read access.
    const std::wstring name = nativePath(path);
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, share, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // A file that may be appended to but not read: the system's append alone.
        file = CreateFileW(name.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE)
        return AppendResult::Failed;
    OVERLAPPED turn = {};
    turn.OffsetHigh = 0x40000000;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
    const char *data = bytes.constData();
    DWORD left = DWORD(bytes.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, left, &written, nullptr) || written == 0)
            break;
        data += written;
        left -= written;
    }
    if (locked)
        UnlockFileEx(file, 0, 1, 0, &turn);
    CloseHandle(file);
    return AppendResult::Written;
}

QByteArray toLocaleEncoding(const QString &text)
{
    // The ANSI code page, which is what Qt's locale codec uses on Windows.
    if (text.isEmpty())
        return QByteArray();
    const wchar_t *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size =
        WideCharToMultiByte(CP_ACP, 0, wide, text.size(), nullptr, 0, nullptr, nullptr);
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(CP_ACP, 0, wide, text.size(), bytes.data(), size, nullptr, nullptr);
    return bytes;
}
} // namespace LogPlatform
