#include "StyleSheetLoader.h"

#include <QApplication>
#include <QFile>

void loadGlobalStyleSheet()
{
    QFile file(QStringLiteral("../mainqss/main.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    file.close();
}
