#include "VersionIni.h"

#include <QCoreApplication>

QString VersionIni::path()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini");
}
