#include "SystemShellLauncher.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

// Elsewhere: "/" paths, and a detached process or the desktop's opener in place of the shell.
bool SystemShellLauncher::isAbsoluteLocalPath(const QString &path)
{
    return isAbsoluteLocalPosixPath(path);
}

bool SystemShellLauncher::execute(const QString &verb, const QString &file,
                                  const QString &parameters, const QString &workingDirectory,
                                  int showCommand)
{
    Q_UNUSED(verb)
    Q_UNUSED(showCommand)
    const QString path = toLocalPath(file);
    const QFileInfo info(path);
    // The Windows shell reports a missing file at once, where the desktop's opener would
    // start and fail later.
    if (!info.exists())
        return false;
    if (info.isFile() && info.isExecutable()) {
        const QStringList arguments =
            parameters.isEmpty() ? QStringList() : QStringList{parameters};
        return QProcess::startDetached(path, arguments, workingDirectory);
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
