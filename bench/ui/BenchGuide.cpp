// Time from the activation of the "激活指南" link to the first paint of the guide, and the
// resident memory after 1, 100 and 500 openings and closings. Needs a display (Xvfb).

#include "Startup.h"
#include "StyleSheetLoader.h"
#include "ebookTipDialog.h"
#include "mainpage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPointer>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace
{
mainpage *window = nullptr;
QLabel *guideLink = nullptr;

double residentKib()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1024;
}

// Watches the whole application for the first paint of a guide dialog.
class GuidePaintWatch : public QObject
{
public:
    QPointer<ebookTipDialog> painted;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !painted) {
            if (auto *guide = qobject_cast<ebookTipDialog *>(object))
                painted = guide;
        }
        return false;
    }
};

// Opens the guide through the link, waits for its first paint, returns the seconds taken,
// then closes it and lets the deletions run.
double openAndCloseGuide(GuidePaintWatch &watch)
{
    watch.painted = nullptr;
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(guideLink, "linkActivated", Q_ARG(QString, "ebookurl"));
    while (!watch.painted && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (watch.painted)
        watch.painted->slotdialogclose();
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    return seconds;
}

void BM_GuideOpenToPaint(benchmark::State &state)
{
    GuidePaintWatch watch;
    qApp->installEventFilter(&watch);
    int cycles = 0;
    for (auto _ : state) {
        state.SetIterationTime(openAndCloseGuide(watch));
        ++cycles;
        if (cycles == 1)
            state.counters["rss_after_1_kib"] = residentKib();
        if (cycles == 100)
            state.counters["rss_after_100_kib"] = residentKib();
        if (cycles == 500)
            state.counters["rss_after_500_kib"] = residentKib();
    }
    qApp->removeEventFilter(&watch);
}
} // namespace

BENCHMARK(BM_GuideOpenToPaint)->Iterations(500)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    loadGlobalStyleSheet();
    mainpage page;
    Startup::presentMainWindow(&page);
    page.show();
    window = &page;
    for (QLabel *label : page.findChildren<QLabel *>()) {
        if (label->text().contains(QStringLiteral("ebookurl")))
            guideLink = label;
    }
    if (!guideLink)
        return 1;
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
