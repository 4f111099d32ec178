#include "LabelButtonAccessible.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

LabelButtonAccessible::LabelButtonAccessible(QLabel *label)
    : QAccessibleWidget(label, QAccessible::Button)
{
}

QString LabelButtonAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
        return static_cast<QLabel *>(widget())->text();
    return QAccessibleWidget::text(t);
}

QStringList LabelButtonAccessible::actionNames() const
{
    return QStringList(pressAction()) + QAccessibleWidget::actionNames();
}

void LabelButtonAccessible::doAction(const QString &actionName)
{
    if (actionName != pressAction()) {
        QAccessibleWidget::doAction(actionName);
        return;
    }
    // As a click cannot, no action reaches a window that a modal window blocks.
    const QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != widget()->window())
        return;
    // Posted: the screen reader's call returns before the window reacts, as after a key press.
    QApplication::postEvent(widget(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier,
                                                    QStringLiteral(" ")));
}
