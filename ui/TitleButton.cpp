#include "TitleButton.h"

#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QToolButton>

TitleButton::TitleButton(QToolButton *button) : QObject(button)
{
    button->installEventFilter(this);
}

QToolButton *TitleButton::create(QWidget *parent, const QString &imagePath, const QSize &padding,
                                 const QString &meaning)
{
    auto *button = new QToolButton(parent);
    const QPixmap pixmap(imagePath);
    button->setFixedSize(pixmap.size() + padding);
    button->setIcon(QIcon(pixmap));
    button->setIconSize(pixmap.size());
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The button's own sheet outranks every application rule, so its focus ring lives here.
    button->setStyleSheet(
        QStringLiteral("QToolButton{background-color:transparent;border-radius:3px;}"
                       "QToolButton:focus{border:1px solid #4778c7;}"));
    button->setToolTip(meaning);
    button->setAccessibleName(meaning);
    new TitleButton(button);
    return button;
}

bool TitleButton::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
        (key->modifiers() & ~Qt::KeypadModifier))
        return false;
    // Held down, Enter presses once, as Space does.
    if (!key->isAutoRepeat())
        static_cast<QToolButton *>(watched)->click();
    return true;
}
