#ifndef SHELLLAUNCHER_H
#define SHELLLAUNCHER_H

#include <QString>

// Opens a file the way the Windows shell does (ShellExecuteW). The main window talks to the
// shell only through this interface, so that tests can see what it asks for.
class ShellLauncher
{
public:
    // SW_SHOWNORMAL
    static constexpr int ShowNormal = 1;

    virtual ~ShellLauncher() = default;

    // A null workingDirectory stands for "none" (a null pointer to the shell). Returns false
    // when the shell reports at once that it could not open the file.
    virtual bool execute(const QString &verb, const QString &file, const QString &parameters,
                         const QString &workingDirectory, int showCommand) = 0;
};

#endif // SHELLLAUNCHER_H
