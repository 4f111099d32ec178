#include "WidgetFinder.h"
#include "ebookTipDialog.h"

#include <QAccessible>
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
    void keyboardScrollsAndCloses();
    void screenReaderNamesTheGuideAndItsSteps();
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

    // The title bar row, the title and the scroll area, in this order.
    auto *mainLayout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(mainLayout);
    QCOMPARE(mainLayout->count(), 3);
    auto *titleBarRow = findByName<QHBoxLayout>(&dialog, "titleBarRow");
    auto *title = findByName<QLabel>(&dialog, "guideTitleLabel");
    auto *scrollArea = findByName<QScrollArea>(&dialog, "guideScrollArea");
    QVERIFY(titleBarRow && title && scrollArea);
    QCOMPARE(layoutIndexOf(mainLayout, titleBarRow), 0);
    QCOMPARE(layoutIndexOf(mainLayout, title), 1);
    QCOMPARE(layoutIndexOf(mainLayout, scrollArea), 2);
    QCOMPARE(mainLayout->stretch(layoutIndexOf(mainLayout, titleBarRow)), 28);
    QCOMPARE(mainLayout->stretch(layoutIndexOf(mainLayout, title)), 58);
    QCOMPARE(mainLayout->stretch(layoutIndexOf(mainLayout, scrollArea)), 458);

    QCOMPARE(title->text(), QStringLiteral("电子课本激活详细指南"));
    QCOMPARE(title->alignment(), Qt::AlignCenter);
    QCOMPARE(title->maximumHeight(), 40);

    QCOMPARE(scrollArea->size(), QSize(540, 426));
    QVERIFY(scrollArea->widgetResizable());

    // Each step: its row (number, text), a gap of stretch 18, its picture; a gap of stretch 20
    // before the next step's row.
    auto *content = qobject_cast<QVBoxLayout *>(scrollArea->widget()->layout());
    QVERIFY(content);
    QCOMPARE(content->count(), 11);
    const QStringList texts = {QStringLiteral("注册,登录Orla Nova客户端"),
                               QStringLiteral("进入个人中心"), QStringLiteral("填写VIP充值卡")};
    for (int step = 0; step < 3; ++step) {
        const QByteArray n = QByteArray::number(step + 1);
        auto *row = findByName<QHBoxLayout>(&dialog, "stepRow" + n);
        auto *number = findByName<QLabel>(&dialog, "stepNumber" + n);
        auto *text = findByName<QLabel>(&dialog, "stepText" + n);
        auto *picture = findByName<QLabel>(&dialog, "stepPicture" + n);
        QVERIFY2(row && number && text && picture, n.constData());

        const int rowAt = layoutIndexOf(content, row);
        QCOMPARE(rowAt, step * 4);
        QCOMPARE(content->stretch(rowAt), 68);
        QVERIFY(content->itemAt(rowAt + 1)->spacerItem());
        QCOMPARE(content->stretch(rowAt + 1), 18);
        QCOMPARE(layoutIndexOf(content, picture), rowAt + 2);
        QCOMPARE(content->stretch(rowAt + 2), 200);
        if (step < 2) {
            QVERIFY(content->itemAt(rowAt + 3)->spacerItem());
            QCOMPARE(content->stretch(rowAt + 3), 20);
        }

        QCOMPARE(row->count(), 3);
        QCOMPARE(layoutIndexOf(row, number), 0);
        QCOMPARE(layoutIndexOf(row, text), 2);
        const QPixmap badge(QStringLiteral("images/%1.png").arg(step + 1));
        QVERIFY(!badge.isNull());
        QCOMPARE(number->size(), badge.size() + QSize(32, 0));
        QCOMPARE(number->alignment(), Qt::AlignCenter);
        QCOMPARE(text->text(), texts.at(step));
        QCOMPARE(text->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(text->maximumHeight(), 40);
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
        auto *picture = findByName<QLabel>(&dialog, "stepPicture" + QByteArray::number(step));
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

    auto *scrollArea = findByName<QScrollArea>(&dialog, "guideScrollArea");
    auto *close = findByName<QToolButton>(&dialog, "closeButton");
    QVERIFY(scrollArea && close);
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

    auto *close = findByName<QToolButton>(&dialog, "closeButton");
    QVERIFY(close);
    dialog.showdialog();
    QTest::mouseClick(close, Qt::LeftButton);
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
        auto *close = findByName<QToolButton>(&dialog, "closeButton");
        QVERIFY(close);
        QCOMPARE(close->size(), QSize(10, 10));
        QVERIFY(close->icon().isNull());
        QSignalSpy spy(&dialog, SIGNAL(sigdialogclose()));
        dialog.showdialog();
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        for (int step = 1; step <= 3; ++step) {
            const QByteArray n = QByteArray::number(step);
            auto *picture = findByName<QLabel>(&dialog, "stepPicture" + n);
            auto *number = findByName<QLabel>(&dialog, "stepNumber" + n);
            QVERIFY(picture && number);
            QCOMPARE(picture->size(), QSize(519, 280));
            QCOMPARE(number->size(), QSize(32, 0));
        }
    }
    QVERIFY(QDir::setCurrent(QStringLiteral(LESSA_SOURCE_DIR)));
}

QTEST_MAIN(TestEbookTipDialog)
#include "TestEbookTipDialog.moc"

void TestEbookTipDialog::keyboardScrollsAndCloses()
{
    ebookTipDialog dialog(nullptr);
    QSignalSpy spy(&dialog, SIGNAL(sigdialogclose()));
    auto *close = findByName<QToolButton>(&dialog, "closeButton");
    auto *scrollArea = findByName<QScrollArea>(&dialog, "guideScrollArea");
    QVERIFY(close && scrollArea);
    QScrollBar *bar = scrollArea->verticalScrollBar();
    dialog.showdialog();
    QApplication::setActiveWindow(&dialog);
    QTRY_COMPARE(QApplication::focusWidget(), close);

    // The close button is the guide's only stop; the scrolling keys still reach the steps.
    QTest::keyClick(close, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), close);
    QTest::keyClick(close, Qt::Key_Down);
    QVERIFY(bar->value() > 0);
    QTest::keyClick(close, Qt::Key_End);
    QCOMPARE(bar->value(), bar->maximum());
    QTest::keyClick(close, Qt::Key_PageUp);
    QVERIFY(bar->value() < bar->maximum());
    QTest::keyClick(close, Qt::Key_Home);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(spy.count(), 0);

    QTest::keyClick(close, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
    QVERIFY(!dialog.isVisible());
}

void TestEbookTipDialog::screenReaderNamesTheGuideAndItsSteps()
{
    ebookTipDialog dialog(nullptr);
    QAccessibleInterface *guide = QAccessible::queryAccessibleInterface(&dialog);
    QVERIFY(guide);
    QCOMPARE(guide->text(QAccessible::Name), QStringLiteral("电子课本激活详细指南"));
    QAccessibleInterface *close =
        QAccessible::queryAccessibleInterface(findByName<QToolButton>(&dialog, "closeButton"));
    QVERIFY(close);
    QCOMPARE(close->role(), QAccessible::Button);
    QCOMPARE(close->text(QAccessible::Name), QStringLiteral("关闭"));
    const QStringList steps = {QStringLiteral("注册,登录Orla Nova客户端"),
                               QStringLiteral("进入个人中心"), QStringLiteral("填写VIP充值卡")};
    for (int step = 1; step <= 3; ++step) {
        auto *picture =
            findByName<QLabel>(&dialog, qPrintable(QStringLiteral("stepPicture%1").arg(step)));
        QVERIFY(picture);
        QCOMPARE(QAccessible::queryAccessibleInterface(picture)->text(QAccessible::Description),
                 steps.at(step - 1));
    }
}
