#ifndef TZBACKGROUNDWND_H
#define TZBACKGROUNDWND_H

#include <QDialog>
#include <QPointer>

// A frameless, translucent veil of the main window's size that dims the main window behind
// the guide dialog.
class TzBackGroundWnd : public QDialog
{
    Q_OBJECT

public:
    explicit TzBackGroundWnd(QWidget *parent);
    ~TzBackGroundWnd() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Copied from the engine once: painting covers the main window's size, not our own.
    int height;
    int width;
};

// The newest overlay. Guarded, so it never designates an overlay that has been destroyed.
extern QPointer<TzBackGroundWnd> g_backGroundWnd;

#endif // TZBACKGROUNDWND_H
