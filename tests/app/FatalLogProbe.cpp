// Logs one fatal message through the file log handler; the toolkit then aborts the process.

#include "LogMessageHandler.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    QMessageLogger().fatal("the end");
    return 0;
}
