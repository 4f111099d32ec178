#include "TzApplicationEngine.h"
#include "TzBackGroundWnd.h"

#include <QImage>
#include <QtTest>

namespace
{
// Source-over of black at alpha 160 onto an opaque channel value.
int dimmed(int channel)
{
    return qRound(channel * (255 - 160) / 255.0);
}

QImage renderOver(QWidget *overlay, const QSize &canvas, const QColor &base)
{
    QImage image(canvas, QImage::Format_ARGB32);
    image.fill(base);
    overlay->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}
} // namespace

class TestTzBackGroundWnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void takesEngineSizeAndFlags();
    void blendsBlackAtAlpha160_data();
    void blendsBlackAtAlpha160();
    void paintsStoredSizeWhenResized();
    void guardedPointerClearsOnDestruction();
};

void TestTzBackGroundWnd::initTestCase()
{
    TzApplicationEngine::instance()->mainWidth = 936;
    TzApplicationEngine::instance()->mainHeight = 760;
}

void TestTzBackGroundWnd::takesEngineSizeAndFlags()
{
    QWidget owner;
    TzBackGroundWnd overlay(&owner);
    QCOMPARE(overlay.size(), QSize(936, 760));
    QCOMPARE(int(overlay.windowFlags()), 0x80B);
    QVERIFY(overlay.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(!overlay.isVisible());
    QCOMPARE(overlay.metaObject()->className(), "TzBackGroundWnd");
    QCOMPARE(overlay.metaObject()->methodCount(), QDialog::staticMetaObject.methodCount());
}

void TestTzBackGroundWnd::blendsBlackAtAlpha160_data()
{
    QTest::addColumn<QColor>("base");
    QTest::newRow("window background") << QColor(0xf7, 0xf7, 0xf7);
    QTest::newRow("accent") << QColor(0x47, 0x78, 0xc7);
    QTest::newRow("white") << QColor(Qt::white);
    QTest::newRow("black") << QColor(Qt::black);
}

void TestTzBackGroundWnd::blendsBlackAtAlpha160()
{
    QFETCH(QColor, base);
    TzBackGroundWnd overlay(nullptr);
    const QImage image = renderOver(&overlay, QSize(936, 760), base);
    for (const QPoint &at : {QPoint(0, 0), QPoint(468, 380), QPoint(935, 759), QPoint(10, 700)}) {
        const QColor seen = image.pixelColor(at);
        QVERIFY2(qAbs(seen.red() - dimmed(base.red())) <= 1, qPrintable(seen.name()));
        QVERIFY2(qAbs(seen.green() - dimmed(base.green())) <= 1, qPrintable(seen.name()));
        QVERIFY2(qAbs(seen.blue() - dimmed(base.blue())) <= 1, qPrintable(seen.name()));
    }
}

void TestTzBackGroundWnd::paintsStoredSizeWhenResized()
{
    TzBackGroundWnd overlay(nullptr);
    overlay.resize(1000, 800);
    const QImage image = renderOver(&overlay, QSize(1000, 800), Qt::white);
    QCOMPARE(image.pixelColor(935, 759).red(), dimmed(255));
    QCOMPARE(image.pixelColor(936, 100), QColor(Qt::white));
    QCOMPARE(image.pixelColor(100, 760), QColor(Qt::white));
    QCOMPARE(image.pixelColor(999, 799), QColor(Qt::white));
}

void TestTzBackGroundWnd::guardedPointerClearsOnDestruction()
{
    auto *overlay = new TzBackGroundWnd(nullptr);
    g_backGroundWnd = overlay;
    delete overlay;
    QVERIFY(g_backGroundWnd.isNull());
}

QTEST_MAIN(TestTzBackGroundWnd)
#include "TestTzBackGroundWnd.moc"
