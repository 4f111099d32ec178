#ifndef SYSTEMSHELLLAUNCHER_H
#define SYSTEMSHELLLAUNCHER_H

#include "ShellLauncher.h"

// The real shell: ShellExecuteW on Windows. Elsewhere backslashes become slashes, an
// executable file is started detached and anything else goes to the desktop's opener.
class SystemShellLauncher : public ShellLauncher
{
public:
    bool execute(const QString &verb, const QString &file, const QString &parameters,
                 const QString &workingDirectory, int showCommand) override;

    // The local path that the non-Windows shell opens for a Windows-style file name.
    static QString toLocalPath(const QString &file);

    // Whether a path names a folder below the root of this machine's own disks, spelt so that
    // it means the same whatever the working directory: on Windows a drive letter, a colon and
    // a separator ("\" or "/"); elsewhere a single leading "/", after the backslash mapping; in
    // both cases followed by at least one name and no "." or ".." component. Relative paths
    // depend on the working directory, "\\host\..." names a network share that any machine
    // answering to that name could serve, and in the root of a drive any user may create
    // folders.
    static bool isAbsoluteLocalPath(const QString &path);
    static bool isAbsoluteLocalWindowsPath(const QString &path);
    static bool isAbsoluteLocalPosixPath(const QString &path);

    // An absolute local path (above) of a directory that exists and, links resolved, is not
    // a root.
    static bool isInstallDirectory(const QString &path);
};

#endif // SYSTEMSHELLLAUNCHER_H
