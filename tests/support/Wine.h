#ifndef WINE_H
#define WINE_H

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

// Whether this Windows program runs under Wine, for the few checks where Wine does not behave
// as Windows does (each says why where it asks).
inline bool runningUnderWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

#endif // WINE_H
