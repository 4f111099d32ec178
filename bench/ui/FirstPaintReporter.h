#ifndef FIRSTPAINTREPORTER_H
#define FIRSTPAINTREPORTER_H

#include <QObject>

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// At the first paint of the watched window, prints the wall-clock time in nanoseconds, the
// peak memory in KiB, the bytes the given function counts (0 without one) and the times of
// the steps marked before, then quits.
class FirstPaintReporter : public QObject
{
public:
    FirstPaintReporter(QWidget *watched, std::function<qint64()> imageBytes = {});
    // Records the wall-clock time of a step of the start-up, printed as NAME_ns.
    void mark(const char *name, qint64 ns);

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QWidget *watched;
    std::function<qint64()> imageBytes;
    std::vector<std::pair<const char *, qint64>> marks;
    bool reported = false;
};

#endif // FIRSTPAINTREPORTER_H
