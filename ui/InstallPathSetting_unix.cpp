#include "InstallPathSetting.h"

#include <QSettings>

QString InstallPathSetting::read()
{
    QSettings settings(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Lessa"),
                       QStringLiteral("Lessa"));
    // An INI file here, written as UTF-8 by editors and packages alike.
    settings.setIniCodec("UTF-8");
    return settings.value(QStringLiteral("InstallPath"), QVariant()).toString();
}
