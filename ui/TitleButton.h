#ifndef TITLEBUTTON_H
#define TITLEBUTTON_H

#include <QObject>
#include <QSize>
#include <QString>

class QToolButton;
class QWidget;

// The icon-only buttons of the frameless windows' own title bars: transparent, as large as
// their picture plus some padding, named by what the icon means (tooltip and screen readers).
// A missing picture leaves a padding-sized button. Reached by Tab, they show a focus ring and
// take Enter as well as Space.
class TitleButton : public QObject
{
    Q_OBJECT

public:
    static QToolButton *create(QWidget *parent, const QString &imagePath, const QSize &padding,
                               const QString &meaning);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit TitleButton(QToolButton *button);
};

#endif // TITLEBUTTON_H
