#include "FirstPaintReporter.h"

#include "ProbeClock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>

FirstPaintReporter::FirstPaintReporter(QWidget *watched, std::function<qint64()> imageBytes)
    : watched(watched), imageBytes(std::move(imageBytes))
{
    watched->installEventFilter(this);
}

void FirstPaintReporter::mark(const char *name, qint64 ns)
{
    marks.emplace_back(name, ns);
}

bool FirstPaintReporter::eventFilter(QObject *object, QEvent *event)
{
    if (object == watched && event->type() == QEvent::Paint && !reported) {
        reported = true;
        const qint64 now = ProbeClock::wallClockNs();
        // Read before the images are decoded to count their bytes, which would raise the peak.
        const qint64 peakKib = ProbeClock::peakMemoryKib();
        std::printf("first_paint_ns=%lld peak_rss_kib=%lld image_bytes=%lld", now, peakKib,
                    imageBytes ? imageBytes() : 0);
        for (const auto &mark : marks)
            std::printf(" %s_ns=%lld", mark.first, mark.second);
        std::printf("\n");
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
}
