#ifndef PROBECLOCK_H
#define PROBECLOCK_H

#include <QtGlobal>

// What the start-up probe reads about itself, one source file per platform. The wall clock is
// the one the driver reads on its side of the fork (Unix time in nanoseconds; under Wine the
// Windows clock is the host's CLOCK_REALTIME), so both ends of a measurement share an epoch.
namespace ProbeClock
{
qint64 wallClockNs();
// Peak resident set (Windows: peak working set), in KiB.
qint64 peakMemoryKib();
} // namespace ProbeClock

#endif // PROBECLOCK_H
