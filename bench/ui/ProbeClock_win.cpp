#include "ProbeClock.h"

#include <windows.h>

#include <psapi.h>

namespace
{
// FILETIME counts 100 ns ticks from 1601-01-01; Unix time starts 11644473600 s later.
constexpr qint64 UnixEpochInFileTimeTicks = 116444736000000000;

using SystemTimeFunction = void(WINAPI *)(LPFILETIME);

// The precise clock exists from Windows 8 on; Windows 7 has only the coarse one.
SystemTimeFunction systemTimeFunction()
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC precise =
        kernel32 ? GetProcAddress(kernel32, "GetSystemTimePreciseAsFileTime") : nullptr;
    return precise ? reinterpret_cast<SystemTimeFunction>(reinterpret_cast<void *>(precise))
                   : &GetSystemTimeAsFileTime;
}
} // namespace

qint64 ProbeClock::wallClockNs()
{
    static const SystemTimeFunction readSystemTime = systemTimeFunction();
    FILETIME now;
    readSystemTime(&now);
    const qint64 ticks = (qint64(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - UnixEpochInFileTimeTicks) * 100;
}

qint64 ProbeClock::peakMemoryKib()
{
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.PeakWorkingSetSize / 1024);
}
