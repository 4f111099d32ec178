#ifndef STARTUP_H
#define STARTUP_H

#include <QString>

class QSettings;
class QWidget;

// The start-up decisions of main(), kept apart so that they can be checked without running
// an event loop.
class Startup
{
public:
    static constexpr int MainWidth = 936;
    static constexpr int MainHeight = 760;

    // NeedLog: any integer other than 0; text that is not a number counts as 0.
    static bool isLogRequested(const QSettings &versionIni);
    // Final flags, sheet and fixed size of the main window; records the size in the engine.
    static void presentMainWindow(QWidget *window);
};

#endif // STARTUP_H
