#include "InstallPathSetting.h"

#include <QSettings>

namespace
{
bool readView(QSettings::Format view, QString *value)
{
    QSettings registry(view, QSettings::SystemScope, QStringLiteral("Lessa"),
                       QStringLiteral("Lessa"));
    // An empty or non-string value (left by an uninstaller, say) counts as none, so that the
    // other view is still consulted.
    const QVariant stored = registry.value(QStringLiteral("InstallPath"));
    if (stored.type() != QVariant::String || stored.toString().isEmpty())
        return false;
    *value = stored.toString();
    return true;
}
} // namespace

QString InstallPathSetting::read()
{
    // HKLM\Software has a 32-bit view (WOW6432Node) and a 64-bit one, and a process sees only
    // its own unless it asks: the classroom software may come as either build.
    const QSettings::Format otherView =
        sizeof(void *) == 4 ? QSettings::Registry64Format : QSettings::Registry32Format;
    QString value;
    if (!readView(QSettings::NativeFormat, &value))
        readView(otherView, &value);
    return value;
}
