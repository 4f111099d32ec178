#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects the process's Qt messages while installed, for tests that check what was logged.
class MessageCapture
{
public:
    static void install() { qInstallMessageHandler(handler); }
    static void uninstall() { qInstallMessageHandler(nullptr); }
    static QStringList &messages()
    {
        static QStringList collected;
        return collected;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        // The offscreen platform's own remarks are not the application's.
        if (!msg.startsWith(QLatin1String("This plugin does not support")))
            messages() << msg;
    }
};

#endif // MESSAGECAPTURE_H
