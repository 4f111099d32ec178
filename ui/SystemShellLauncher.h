#ifndef SYSTEMSHELLLAUNCHER_H
#define SYSTEMSHELLLAUNCHER_H

#include "ShellLauncher.h"

// The real shell: ShellExecuteW on Windows. Elsewhere backslashes become slashes, an
// executable file is started detached and anything else goes to the desktop's opener.
class SystemShellLauncher : public ShellLauncher
{
public:
    void execute(const QString &verb, const QString &file, const QString &parameters,
                 const QString &workingDirectory, int showCommand) override;

    // The local path that the non-Windows shell opens for a Windows-style file name.
    static QString toLocalPath(const QString &file);

    // Whether the shell would open a file of this machine's own disks: on Windows a drive
    // letter, a colon and a backslash; elsewhere a single leading "/" followed by a name,
    // after the backslash mapping. Relative paths depend on the working directory and "\\host\..."
    // names a network share that any machine answering to that name could serve.
    static bool isAbsoluteLocalPath(const QString &path);
    static bool isAbsoluteLocalWindowsPath(const QString &path);
    static bool isAbsoluteLocalPosixPath(const QString &path);
};

#endif // SYSTEMSHELLLAUNCHER_H
