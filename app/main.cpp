#include "LogMessageHandler.h"
#include "Startup.h"
#include "StyleSheetLoader.h"
#include "VersionIni.h"
#include "mainpage.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QSettings versionIni(VersionIni::path(), QSettings::IniFormat);
    versionIni.setIniCodec("UTF-8");
    if (Startup::isLogRequested(versionIni))
        qInstallMessageHandler(logMessageHandler);

    loadGlobalStyleSheet();

    // Declared after the settings so that it is destroyed first, then the settings, then app.
    mainpage window;
    Startup::presentMainWindow(&window);
    window.show();
    return app.exec();
}
