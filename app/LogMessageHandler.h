#ifndef LOGMESSAGEHANDLER_H
#define LOGMESSAGEHANDLER_H

#include <QDateTime>
#include <QtGlobal>

// Appends every message as one CR LF line to "log_MM-dd_hhmm.txt" in the log directory
// (setting Log/Path, by default "<working directory>/log"; an empty or non-text value counts
// as none, and without the application object, as at exit, the default always applies).
// Each line is in the closed file before the call returns, so a crash, even the abort after a
// fatal message, loses nothing. A log file name that is a symbolic link or no regular file is
// never written through (whoever may write the directory could have planted it): its lines go
// to standard error instead, after one line naming it.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The handler reads the time through this clock; null restores the system's local time.
using LogClock = QDateTime (*)();
void setLogClock(LogClock clock);

// Called by the handler right after it has read Log/Path, before it remembers the value: lets
// a test change the settings file at that moment. Null by default.
void setLogSettingsReadProbe(void (*probe)());

#endif // LOGMESSAGEHANDLER_H
