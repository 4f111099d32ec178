#include "TzBackGroundWnd.h"

#include "TzApplicationEngine.h"

#include <QColor>
#include <QPainter>

QPointer<TzBackGroundWnd> g_backGroundWnd;

TzBackGroundWnd::TzBackGroundWnd(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("backgroundOverlay"));
    const TzApplicationEngine *engine = TzApplicationEngine::instance();
    height = engine->mainHeight;
    width = engine->mainWidth;
    resize(width, height);
    setWindowFlags(Qt::FramelessWindowHint | Qt::Tool);
    setAttribute(Qt::WA_TranslucentBackground, true);
}

TzBackGroundWnd::~TzBackGroundWnd() = default;

void TzBackGroundWnd::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor veil;
    veil.setRgb(0, 0, 0, 160);
    painter.fillRect(0, 0, width, height, veil);
    painter.end();
}
