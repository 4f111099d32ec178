#include "StartupDialog.h"

#include <QLabel>
#include <QPixmap>

StartupDialog::StartupDialog(Content content)
{
    setWindowFlags(Qt::FramelessWindowHint);
    setFixedSize(936, 760);
    if (content == Fair) {
        auto *text = new QLabel(QStringLiteral("激活您的电子课本VIP卡"), this);
        text->setStyleSheet(QStringLiteral("font-size:28px;color:#4778C7;font-family:微软雅黑"));
        auto *picture = new QLabel(this);
        picture->setPixmap(QPixmap(QStringLiteral("images/ebook.png")));
        picture->move(0, 100);
    }
}
