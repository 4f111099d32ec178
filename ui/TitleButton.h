#ifndef TITLEBUTTON_H
#define TITLEBUTTON_H

#include <QSize>
#include <QString>

class QToolButton;
class QWidget;

// The icon-only buttons of the frameless windows' own title bars: transparent, as large as
// their picture plus some padding. A missing picture leaves a padding-sized button.
class TitleButton
{
public:
    static QToolButton *create(QWidget *parent, const QString &imagePath, const QSize &padding);
};

#endif // TITLEBUTTON_H
