#include "SystemShellLauncher.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#else
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#endif

QString SystemShellLauncher::toLocalPath(const QString &file)
{
    QString path = file;
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

bool SystemShellLauncher::isAbsoluteLocalWindowsPath(const QString &path)
{
    if (path.size() < 3)
        return false;
    const QChar drive = path.at(0);
    const bool isLetter = (drive >= QLatin1Char('A') && drive <= QLatin1Char('Z')) ||
                          (drive >= QLatin1Char('a') && drive <= QLatin1Char('z'));
    return isLetter && path.at(1) == QLatin1Char(':') && path.at(2) == QLatin1Char('\\');
}

bool SystemShellLauncher::isAbsoluteLocalPosixPath(const QString &path)
{
    // "/" alone is what an empty value with its appended backslash becomes.
    const QString local = toLocalPath(path);
    return local.size() >= 2 && local.at(0) == QLatin1Char('/') && local.at(1) != QLatin1Char('/');
}

bool SystemShellLauncher::isAbsoluteLocalPath(const QString &path)
{
#ifdef Q_OS_WIN
    return isAbsoluteLocalWindowsPath(path);
#else
    return isAbsoluteLocalPosixPath(path);
#endif
}

#ifdef Q_OS_WIN
void SystemShellLauncher::execute(const QString &verb, const QString &file,
                                  const QString &parameters, const QString &workingDirectory,
                                  int showCommand)
{
    const auto wide = [](const QString &text) {
        return text.isNull() ? nullptr : reinterpret_cast<LPCWSTR>(text.utf16());
    };
    ShellExecuteW(nullptr, wide(verb), wide(file), reinterpret_cast<LPCWSTR>(parameters.utf16()),
                  wide(workingDirectory), showCommand);
}
#else
void SystemShellLauncher::execute(const QString &verb, const QString &file,
                                  const QString &parameters, const QString &workingDirectory,
                                  int showCommand)
{
    Q_UNUSED(verb)
    Q_UNUSED(showCommand)
    const QString path = toLocalPath(file);
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable()) {
        const QStringList arguments =
            parameters.isEmpty() ? QStringList() : QStringList{parameters};
        QProcess::startDetached(path, arguments, workingDirectory);
    } else {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}
#endif
