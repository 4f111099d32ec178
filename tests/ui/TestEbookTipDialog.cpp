#include "ebookTipDialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

class TestEbookTipDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buildsTitleAndSteps();
    void showsStepPicturesWhole();
    void scrollsStepsBelowFixedTitle();
    void showsModallyWithoutBlocking();
    void announcesEachClosingOnce();
    void buildsWithoutImages();
};

void TestEbookTipDialog::initTestCase()
{
    QVERIFY(QDir::setCurrent(QStringLiteral(LESSA_SOURCE_DIR)));
}

void TestEbookTipDialog::buildsTitleAndSteps()
{
    ebookTipDialog dialog(nullptr);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.metaObject()->className(), "ebookTipDialog");

    auto *mainLayout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(mainLayout);
    QCOMPARE(mainLayout->count(), 3);
    QCOMPARE(mainLayout->stretch(0), 28);
    QCOMPARE(mainLayout->stretch(1), 58);
    QCOMPARE(mainLayout->stretch(2), 458);

    auto *title = qobject_cast<QLabel *>(mainLayout->itemAt(1)->widget());
    QCOMPARE(title->text(), QStringLiteral("电子课本激活详细指南"));
    QCOMPARE(title->alignment(), Qt::AlignCenter);
    QCOMPARE(title->maximumHeight(), 40);

    auto *scrollArea = qobject_cast<QScrollArea *>(mainLayout->itemAt(2)->widget());
    QVERIFY(scrollArea);
    QCOMPARE(scrollArea->size(), QSize(540, 426));
    QVERIFY(scrollArea->widgetResizable());

    QLayout *content = scrollArea->widget()->layout();
    QCOMPARE(content->count(), 11);
    const QList<int> stretches = {68, 18, 200, 20, 68, 18, 200, 20, 68, 18, 200};
    const QStringList texts = {QStringLiteral("注册,登录Orla Nova客户端"),
                               QStringLiteral("进入个人中心"), QStringLiteral("填写VIP充值卡")};
    for (int i = 0; i < 11; ++i)
        QCOMPARE(static_cast<QVBoxLayout *>(content)->stretch(i), stretches.at(i));
    for (int step = 0; step < 3; ++step) {
        QLayout *row = content->itemAt(step * 4)->layout();
        QVERIFY(row);
        QCOMPARE(row->count(), 3);
        auto *number = qobject_cast<QLabel *>(row->itemAt(0)->widget());
        const QPixmap badge(QStringLiteral("images/%1.png").arg(step + 1));
        QVERIFY(!badge.isNull());
        QCOMPARE(number->size(), badge.size() + QSize(32, 0));
        QCOMPARE(number->alignment(), Qt::AlignCenter);
        auto *text = qobject_cast<QLabel *>(row->itemAt(2)->widget());
        QCOMPARE(text->text(), texts.at(step));
        QCOMPARE(text->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(text->maximumHeight(), 40);
        auto *picture = qobject_cast<QLabel *>(content->itemAt(step * 4 + 2)->widget());
        QCOMPARE(picture->size(), QSize(519, 280));
        QVERIFY(picture->pixmap() && !picture->pixmap()->isNull());
    }
}

void TestEbookTipDialog::showsStepPicturesWhole()
{
    ebookTipDialog dialog(nullptr);
    dialog.setFixedSize(560, 544);
    dialog.showdialog();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int step = 1; step <= 3; ++step) {
        auto *picture = dialog.findChild<QLabel *>(QStringLiteral("stepPicture%1").arg(step));
        QVERIFY(picture && picture->pixmap());
        QCOMPARE(picture->size(), QSize(519, 280));
        // The sheet's 64-pixel left margin leaves 455 by 280 pixels, where the label centres
        // its picture: nothing of the picture may fall outside.
        const QRect visible = picture->contentsRect();
        QCOMPARE(visible, QRect(64, 0, 455, 280));
        QRect shown(QPoint(), picture->pixmap()->size());
        shown.moveCenter(visible.center());
        QVERIFY2(
            visible.contains(shown),
            qPrintable(
                QStringLiteral("step %1: %2x%3").arg(step).arg(shown.width()).arg(shown.height())));
    }
}

void TestEbookTipDialog::scrollsStepsBelowFixedTitle()
{
    ebookTipDialog dialog(nullptr);
    dialog.setFixedSize(560, 544);
    dialog.setWindowFlags(Qt::FramelessWindowHint);
    dialog.showdialog();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *scrollArea = dialog.findChild<QScrollArea *>("guideScrollArea");
    QToolButton *close = dialog.findChild<QToolButton *>("closeButton");
    QScrollBar *bar = scrollArea->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    const QPoint closeAt = close->pos();
    const QPoint contentAt = scrollArea->widget()->pos();

    QWheelEvent wheel(QPointF(200, 200), scrollArea->viewport()->mapToGlobal(QPoint(200, 200)),
                      QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(scrollArea->viewport(), &wheel);
    QVERIFY(bar->value() > 0);
    QVERIFY(scrollArea->widget()->pos().y() < contentAt.y());
    QCOMPARE(close->pos(), closeAt);
    QVERIFY(close->geometry().right() > dialog.width() - 30);
}

void TestEbookTipDialog::showsModallyWithoutBlocking()
{
    ebookTipDialog dialog(nullptr);
    dialog.showdialog();
    // show() returned: no nested event loop.
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.isModal());
    QCOMPARE(QApplication::activeModalWidget(), &dialog);
    dialog.close();
}

void TestEbookTipDialog::announcesEachClosingOnce()
{
    ebookTipDialog dialog(nullptr);
    QSignalSpy spy(&dialog, SIGNAL(sigdialogclose()));
    bool visibleWhenAnnounced = false;
    connect(&dialog, &ebookTipDialog::sigdialogclose, this,
            [&] { visibleWhenAnnounced = dialog.isVisible(); });

    dialog.showdialog();
    QTest::mouseClick(dialog.findChild<QToolButton *>("closeButton"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QVERIFY(visibleWhenAnnounced);
    QVERIFY(!dialog.isVisible());

    dialog.showdialog();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(spy.count(), 2);
    QVERIFY(!dialog.isVisible());

    dialog.showdialog();
    dialog.close();
    dialog.close();
    QCOMPARE(spy.count(), 3);

    dialog.showdialog();
    dialog.accept();
    QCOMPARE(spy.count(), 4);
}

void TestEbookTipDialog::buildsWithoutImages()
{
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    {
        ebookTipDialog dialog(nullptr);
        QToolButton *close = dialog.findChild<QToolButton *>("closeButton");
        QCOMPARE(close->size(), QSize(10, 10));
        QVERIFY(close->icon().isNull());
        QSignalSpy spy(&dialog, SIGNAL(sigdialogclose()));
        dialog.showdialog();
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        for (int step = 1; step <= 3; ++step)
            QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("stepPicture%1").arg(step))->size(),
                     QSize(519, 280));
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->styleSheet().startsWith("margin-left:26px"))
                QCOMPARE(label->size(), QSize(32, 0));
        }
    }
    QVERIFY(QDir::setCurrent(QStringLiteral(LESSA_SOURCE_DIR)));
}

QTEST_MAIN(TestEbookTipDialog)
#include "TestEbookTipDialog.moc"
