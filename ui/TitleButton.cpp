#include "TitleButton.h"

#include <QIcon>
#include <QPixmap>
#include <QToolButton>

QToolButton *TitleButton::create(QWidget *parent, const QString &imagePath, const QSize &padding)
{
    auto *button = new QToolButton(parent);
    const QPixmap pixmap(imagePath);
    button->setFixedSize(pixmap.size() + padding);
    button->setIcon(QIcon(pixmap));
    button->setIconSize(pixmap.size());
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setStyleSheet(
        QStringLiteral("QToolButton{background-color:transparent;border-radius:3px;}"));
    return button;
}
