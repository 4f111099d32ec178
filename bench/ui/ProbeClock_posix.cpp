#include "ProbeClock.h"

#include <sys/resource.h>
#include <time.h>

qint64 ProbeClock::wallClockNs()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 ProbeClock::peakMemoryKib()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
