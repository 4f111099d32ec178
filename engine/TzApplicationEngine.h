#ifndef TZAPPLICATIONENGINE_H
#define TZAPPLICATIONENGINE_H

#include <QWidget>

// The one application-wide object: it carries the main window's size for windows that are
// sized after it, and a small interface for application-level notifications. Never shown.
class TzApplicationEngine : public QWidget
{
    Q_OBJECT

public:
    TzApplicationEngine();
    ~TzApplicationEngine() override;

    // Created on first call (thread-safe); null once static objects have been torn down.
    static TzApplicationEngine *instance();

    int mainWidth = 0;
    int mainHeight = 0;

signals:
    void needToShow();
    void needtofresh(const QString &);
    void secondexecute(int);

public slots:
    void handleMessage(const QString &message);
};

#endif // TZAPPLICATIONENGINE_H
