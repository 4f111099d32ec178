// The fair baseline of the start-up probe as a program of its own, linked with nothing of the
// product: what a window with the product's look costs in start-up time and executable size
// when built by the same compiler and the same (static) Qt.

#include "FirstPaintReporter.h"
#include "ProbeClock.h"
#include "StartupDialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    const qint64 entered = ProbeClock::wallClockNs();
    QApplication app(argc, argv);
    const qint64 appMade = ProbeClock::wallClockNs();
    StartupDialog dialog(StartupDialog::Fair);
    FirstPaintReporter reporter(&dialog);
    reporter.mark("main", entered);
    reporter.mark("app", appMade);
    reporter.mark("window", ProbeClock::wallClockNs());
    dialog.show();
    return app.exec();
}
