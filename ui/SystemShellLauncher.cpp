#include "SystemShellLauncher.h"

#include <QDir>
#include <QFileInfo>

// The launch and the path rule of each platform are in SystemShellLauncher_win.cpp and
// SystemShellLauncher_unix.cpp.

QString SystemShellLauncher::toLocalPath(const QString &file)
{
    QString path = file;
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

namespace
{
// Whether the part of a path after its root names at least one folder and holds no "." or
// ".." component, with which it could end elsewhere than it reads (at the root, say). Empty
// names (repeated separators) are harmless: both systems read them as one separator.
// Windows also drops trailing dots and spaces from a name ("C:\ " opens "C:\" while the
// shell may be handed a folder named " " that anyone can create), so with windowsNames such
// names are refused too.
bool namesFolderBelowRoot(const QString &rest, bool windowsNames)
{
    bool named = false;
    for (const QString &name : SystemShellLauncher::toLocalPath(rest).split(QLatin1Char('/'))) {
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            return false;
        if (windowsNames && !name.isEmpty() &&
            (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))))
            return false;
        named = named || !name.isEmpty();
    }
    return named;
}
} // namespace

bool SystemShellLauncher::isAbsoluteLocalWindowsPath(const QString &path)
{
    if (path.size() < 3)
        return false;
    const QChar drive = path.at(0);
    const bool isLetter = (drive >= QLatin1Char('A') && drive <= QLatin1Char('Z')) ||
                          (drive >= QLatin1Char('a') && drive <= QLatin1Char('z'));
    const QChar separator = path.at(2);
    if (!isLetter || path.at(1) != QLatin1Char(':') ||
        (separator != QLatin1Char('\\') && separator != QLatin1Char('/')))
        return false;
    return namesFolderBelowRoot(path.mid(3), true);
}

bool SystemShellLauncher::isAbsoluteLocalPosixPath(const QString &path)
{
    const QString local = toLocalPath(path);
    if (local.size() < 2 || local.at(0) != QLatin1Char('/') || local.at(1) == QLatin1Char('/'))
        return false;
    return namesFolderBelowRoot(local.mid(1), false);
}

bool SystemShellLauncher::isInstallDirectory(const QString &path)
{
    if (!isAbsoluteLocalPath(path))
        return false;
    // Qt reads "/" as a separator on Windows too.
    const QFileInfo info(QDir::cleanPath(toLocalPath(path)));
    return info.isDir() && !QDir(info.canonicalFilePath()).isRoot();
}
