// Logs through the file log handler while the application object exists, after it is gone,
// and from an exit handler that runs once every static object has been torn down.

#include "LogMessageHandler.h"

#include <QCoreApplication>

#include <cstdlib>

namespace
{
void logAtExit()
{
    QMessageLogger().warning("at exit 中文");
}
} // namespace

int main(int argc, char *argv[])
{
    // Registered before anything of Qt's or the handler's exists, so it runs after all of
    // their static objects are destroyed.
    std::atexit(logAtExit);
    qInstallMessageHandler(logMessageHandler);
    {
        QCoreApplication app(argc, argv);
        QMessageLogger().warning("while running");
    }
    QMessageLogger().warning("after the application");
    return 0;
}
