#include "SystemShellLauncher.h"

#include <QDir>

#include <qt_windows.h>
#include <shellapi.h>

// Windows: drive-letter paths, and the shell itself.
bool SystemShellLauncher::isAbsoluteLocalPath(const QString &path)
{
    return isAbsoluteLocalWindowsPath(path);
}

bool SystemShellLauncher::execute(const QString &verb, const QString &file,
                                  const QString &parameters, const QString &workingDirectory,
                                  int showCommand)
{
    const auto wide = [](const QString &text) {
        return text.isNull() ? nullptr : reinterpret_cast<LPCWSTR>(text.utf16());
    };
    // The shell's own path parsing expects backslashes, while a folder may be spelt with
    // slashes.
    const QString nativeFile = file.isNull() ? file : QDir::toNativeSeparators(file);
    const HINSTANCE result = ShellExecuteW(nullptr, wide(verb), wide(nativeFile),
                                           reinterpret_cast<LPCWSTR>(parameters.utf16()),
                                           wide(workingDirectory), showCommand);
    // Values up to 32 are error codes (SE_ERR_*), anything above stands for success.
    return reinterpret_cast<INT_PTR>(result) > 32;
}
