#include "LabelButtonAccessible.h"

#include <QCoreApplication>
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
    // Posted: the screen reader's call returns before the window reacts, as after a key press.
    QCoreApplication::postEvent(widget(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Space,
                                                        Qt::NoModifier, QStringLiteral(" ")));
}
