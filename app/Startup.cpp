#include "Startup.h"

#include "TzApplicationEngine.h"

#include <QSettings>
#include <QWidget>

bool Startup::isLogRequested(const QSettings &versionIni)
{
    return versionIni.value(QStringLiteral("NeedLog"), 0).toInt() != 0;
}

void Startup::presentMainWindow(QWidget *window)
{
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->setStyleSheet(QStringLiteral(
        "border-width:0px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
        "background-color:#f7f7f7"));
    window->setFixedSize(MainWidth, MainHeight);

    TzApplicationEngine *engine = TzApplicationEngine::instance();
    engine->mainWidth = window->width();
    engine->mainHeight = window->height();
}
