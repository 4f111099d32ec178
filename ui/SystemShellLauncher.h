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
};

#endif // SYSTEMSHELLLAUNCHER_H
