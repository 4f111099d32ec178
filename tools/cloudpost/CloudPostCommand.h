#ifndef CLOUDPOSTCOMMAND_H
#define CLOUDPOSTCOMMAND_H

#include <QJsonObject>
#include <QObject>
#include <QStringList>

class TzCloud;

// Posts one request through TzCloud and turns its outcome into output and an exit code.
class CloudPostCommand : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Success = 0, RequestFailed = 1, UsageError = 2, TimedOut = 3 };
    // The longest time-out whose milliseconds still fit a timer's 32-bit interval.
    static constexpr int MaxTimeoutSeconds = 2147483;

    explicit CloudPostCommand(QObject *parent = nullptr);

    // Parses the arguments, posts, and runs the event loop until the outcome is known.
    int run(const QStringList &arguments);

private slots:
    void onFinished(const QString &path, const QJsonObject &object);
    void onError(const QString &path, int code);
    void onTimeout();

private:
    void finish(int exitCode);

    TzCloud *cloud = nullptr;
    int timeoutSeconds = 30;
    int exitCode = Success;
};

#endif // CLOUDPOSTCOMMAND_H
