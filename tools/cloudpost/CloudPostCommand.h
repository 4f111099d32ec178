#ifndef CLOUDPOSTCOMMAND_H
#define CLOUDPOSTCOMMAND_H

#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <cstdio>

class TzCloud;

// Posts one request through TzCloud and turns its outcome into output and an exit code.
class CloudPostCommand : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Success = 0, RequestFailed = 1, UsageError = 2, TimedOut = 3 };
    // The longest time-out whose milliseconds still fit a timer's 32-bit interval.
    static constexpr int MaxTimeoutSeconds = 2147483;

    explicit CloudPostCommand(FILE *outStream = stdout, FILE *errStream = stderr,
                              QObject *parent = nullptr);

    // Parses the arguments, posts, and runs the event loop until the outcome is known.
    int run(const QStringList &arguments);

private slots:
    void onFinished(const QString &path, const QJsonObject &object);
    void onError(const QString &path, int code);

private:
    // Reports the first outcome only: a second one arriving in the same pass of the event
    // loop, before exit() has taken effect, must neither print nor change the exit code.
    void finish(int exitCode, FILE *stream, const QString &text);

    FILE *out;
    FILE *err;
    TzCloud *cloud = nullptr;
    int timeoutSeconds = 30;
    int exitCode = Success;
    bool finished = false;
};

#endif // CLOUDPOSTCOMMAND_H
