// Start-up probe. "product" starts the application as main() does; "baseline" shows a bare
// frameless 936 x 760 QDialog; "fair" the same dialog holding what any window with this
// look pays for (see StartupDialog). "fair-network" and "fair-styles" add one candidate cost
// each to "fair": a QNetworkAccessManager, and the product's global and window style sheets.
// At the first paint of the window it prints the wall-clock time in nanoseconds, the peak
// memory in KiB, for the product the bytes of its decoded images, and when main() was
// entered, QApplication made and the window made (for the product also when the global
// style sheet was loaded and the page made); then it exits. The driver
// (bench/bench_report.py) takes the start time from its side of the fork, the same for
// all. "clock" answers each line on its standard input with the wall-clock time, so that the
// driver can check that its clock and the probe's agree (under Wine: the Windows clock
// against the host's) within one round trip.

#include "FirstPaintReporter.h"
#include "LogMessageHandler.h"
#include "ProbeClock.h"
#include "Startup.h"
#include "StartupDialog.h"
#include "StyleSheetLoader.h"
#include "VersionIni.h"
#include "mainpage.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QNetworkAccessManager>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace
{
qint64 decodedImageBytes()
{
    qint64 bytes = 0;
    const QDir images(QStringLiteral("images"));
    for (const QString &name : images.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const QImage image(images.filePath(name));
        bytes += qint64(image.bytesPerLine()) * image.height();
    }
    return bytes;
}
} // namespace

int main(int argc, char *argv[])
{
    const qint64 entered = ProbeClock::wallClockNs();
    const QString mode = QString::fromLatin1(argc > 1 ? argv[1] : "baseline");
    if (mode == QLatin1String("clock")) {
        char line[64];
        while (std::fgets(line, sizeof line, stdin)) {
            std::printf("now_ns=%lld\n", ProbeClock::wallClockNs());
            std::fflush(stdout);
        }
        return 0;
    }
    QApplication app(argc, argv);
    const qint64 appMade = ProbeClock::wallClockNs();
    std::unique_ptr<QWidget> window;
    std::unique_ptr<FirstPaintReporter> reporter;
    if (mode == QLatin1String("product")) {
        QSettings versionIni(VersionIni::path(), QSettings::IniFormat);
        versionIni.setIniCodec("UTF-8");
        if (Startup::isLogRequested(versionIni))
            qInstallMessageHandler(logMessageHandler);
        loadGlobalStyleSheet();
        const qint64 sheetLoaded = ProbeClock::wallClockNs();
        window.reset(new mainpage);
        const qint64 pageMade = ProbeClock::wallClockNs();
        Startup::presentMainWindow(window.get());
        reporter.reset(new FirstPaintReporter(window.get(), decodedImageBytes));
        reporter->mark("sheet", sheetLoaded);
        reporter->mark("page", pageMade);
    } else {
        auto *dialog = new StartupDialog(
            mode.startsWith(QLatin1String("fair")) ? StartupDialog::Fair : StartupDialog::Bare);
        window.reset(dialog);
        if (mode == QLatin1String("fair-network"))
            new QNetworkAccessManager(dialog);
        if (mode == QLatin1String("fair-styles")) {
            loadGlobalStyleSheet();
            dialog->setStyleSheet(QStringLiteral(
                "border-width:0px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
                "background-color:#f7f7f7"));
        }
        reporter.reset(new FirstPaintReporter(window.get()));
    }
    reporter->mark("main", entered);
    reporter->mark("app", appMade);
    reporter->mark("window", ProbeClock::wallClockNs());
    window->show();
    return app.exec();
}
