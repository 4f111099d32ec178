#ifndef FIRSTPAINTREPORTER_H
#define FIRSTPAINTREPORTER_H

#include <QObject>

#include <functional>

class QWidget;

// At the first paint of the watched window, prints the wall-clock time in nanoseconds, the
// peak memory in KiB and the bytes the given function counts (0 without one), then quits.
class FirstPaintReporter : public QObject
{
public:
    FirstPaintReporter(QWidget *watched, std::function<qint64()> imageBytes = {});

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QWidget *watched;
    std::function<qint64()> imageBytes;
    bool reported = false;
};

#endif // FIRSTPAINTREPORTER_H
