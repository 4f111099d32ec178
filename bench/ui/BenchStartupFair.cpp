// The fair baseline of the start-up probe as a program of its own, linked with nothing of the
// product: what a window with the product's look costs in start-up time and executable size
// when built by the same compiler and the same (static) Qt.

#include "FirstPaintReporter.h"
#include "StartupDialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    StartupDialog dialog(StartupDialog::Fair);
    FirstPaintReporter reporter(&dialog);
    dialog.show();
    return app.exec();
}
