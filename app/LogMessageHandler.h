#ifndef LOGMESSAGEHANDLER_H
#define LOGMESSAGEHANDLER_H

#include <QDateTime>
#include <QtGlobal>

// Appends every message as one CR LF line to "log_MM-dd_hhmm.txt" in the log directory
// (setting Log/Path, by default "<working directory>/log"; an empty or non-text value counts
// as none, and without the application object, as at exit, the default always applies).
// Each line is in the closed file before the call returns, so a crash, even the abort after a
// fatal message, loses nothing.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The handler reads the time through this clock; null restores the system's local time.
using LogClock = QDateTime (*)();
void setLogClock(LogClock clock);

// Called by the handler right after it has read Log/Path, before it remembers the value: lets
// a test change the settings file at that moment. Null by default.
void setLogSettingsReadProbe(void (*probe)());

#endif // LOGMESSAGEHANDLER_H
