// Appends COUNT lines "TAG line N" through the file log handler, all in one minute, once a line
// on standard input says go: two of these at once show whether processes overwrite lines.

#include "LogMessageHandler.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace
{
QDateTime fixedClock()
{
    return QDateTime(QDate(2026, 8, 30), QTime(9, 5, 3, 7));
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 2;
    const QString tag = arguments.at(1);
    const int count = arguments.at(2).toInt();
    setLogClock(fixedClock);

    std::puts("ready");
    std::fflush(stdout);
    char go[8];
    if (!std::fgets(go, sizeof go, stdin))
        return 3;

    const QString padding(40, QLatin1Char('x'));
    const QMessageLogContext noContext;
    for (int i = 0; i < count; ++i)
        logMessageHandler(QtDebugMsg, noContext,
                          QStringLiteral("%1 line %2 ").arg(tag).arg(i) + padding);
    return 0;
}
