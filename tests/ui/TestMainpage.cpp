#include "LinkLabelAccessible.h"
#include "MessageCapture.h"
#include "RecordingShellLauncher.h"
#include "Startup.h"
#include "TzBackGroundWnd.h"
#include "TzCloud.h"
#include "WidgetFinder.h"
#include "ebookTipDialog.h"
#include "mainpage.h"

#include <QAccessible>
#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace
{
QList<ebookTipDialog *> openGuides()
{
    return topLevelsByName<ebookTipDialog>("ebookTipDialog");
}

void flushDeletions()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &pos, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

const QString descriptionText = QStringLiteral(
    "语数外等10大学科，104本电子课本打开Orla Nova客户端，进入个人中心激活使用。查看详细<html><a "
    "href=\"ebookurl\" style='text-decoration:none;color:#4778c7;font-size:14px;'>激活指南</a></"
    "html>");
} // namespace

class TestMainpage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void buildsTitleRowInOrder();
    void buildsTitleButtonsWithoutImages();
    void buildsCardInOrder();
    void ownsCloudClient();
    void dragsWithAnyButton_data();
    void dragsWithAnyButton();
    void leftPressOnTitleButtonDoesNotDrag();
    void filterConsumesPressesOnOpenClientLabel();
    void launchesClientFromInstallPath_data();
    void launchesClientFromInstallPath();
    void readsInstallPathWrittenAsPlainUtf8();
    void doesNotLaunchWithoutInstallPath_data();
    void doesNotLaunchWithoutInstallPath();
    void failedLaunchLeavesWindowInPlace();
    void findsInstallPathInEitherRegistryView_data();
    void findsInstallPathInEitherRegistryView();
    void guideLinkOpensDialogOverDimmedWindow();
    void guideIsOwnedByTheOverlayAndStaysModal();
    void otherLinkChangesNothing();
    void dialogCloseWithoutOverlayDoesNothing();
    void everyWayOfClosingTheGuideHidesTheOverlay_data();
    void everyWayOfClosingTheGuideHidesTheOverlay();
    void secondOpeningFollowsTheMovedWindow();
    void objectCountStaysFlatOverGuideCycles();
    void tabReachesEveryActionInReadingOrder();
    void keysDoWhatClicksDo();
    void focusedLinkStillTakesAClick();
    void heldEscapeLeavesTheWindowOpen();
    void screenReaderNamesAndPressesEveryControl();

private:
    void setInstallPath(const QVariant &value, QSettings::Format format = QSettings::NativeFormat);
    mainpage *createWindow();
    ebookTipDialog *openGuide(mainpage *window);
    // A folder of the throw-away install root, spelt as a registry value would be.
    QString installFolder(const QString &name) const;
    // The window active, as a user finds it after start-up.
    mainpage *createActiveWindow();

    QTemporaryDir registry;
    QTemporaryDir installRoot;
    QString originalDirectory;
    QScopedPointer<mainpage> window;
    RecordingShellLauncher *launcher = nullptr;
};

void TestMainpage::initTestCase()
{
    QVERIFY(registry.isValid());
    QVERIFY(installRoot.isValid());
    for (const char *folder : {"Apps", "课堂 软件", "课堂软件"})
        QVERIFY(QDir(installRoot.path()).mkpath(QString::fromUtf8(folder)));
    QFile file(installRoot.path() + "/file.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, registry.path());
    originalDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral(LESSA_SOURCE_DIR)));
    setInstallPath(QVariant());
}

void TestMainpage::init()
{
    MessageCapture::messages().clear();
}

void TestMainpage::cleanup()
{
    MessageCapture::uninstall();
    qDeleteAll(openGuides());
    window.reset();
    flushDeletions();
    QVERIFY(QDir::setCurrent(QStringLiteral(LESSA_SOURCE_DIR)));
}

void TestMainpage::setInstallPath(const QVariant &value, QSettings::Format format)
{
    QList<QSettings::Format> formats = {format};
#ifdef Q_OS_WIN
    // Removal clears both registry views.
    if (!value.isValid())
        formats << QSettings::Registry32Format << QSettings::Registry64Format;
#endif
    for (QSettings::Format each : formats) {
        QSettings settings(each, QSettings::SystemScope, "Lessa", "Lessa");
        if (value.isValid())
            settings.setValue("InstallPath", value);
        else
            settings.remove("InstallPath");
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
}

QString TestMainpage::installFolder(const QString &name) const
{
    return QDir::toNativeSeparators(installRoot.path() + "/" + name);
}

mainpage *TestMainpage::createWindow()
{
    window.reset(new mainpage);
    auto recorder = std::make_unique<RecordingShellLauncher>();
    launcher = recorder.get();
    window->setShellLauncher(std::move(recorder));
    Startup::presentMainWindow(window.data());
    window->show();
    if (!QTest::qWaitForWindowExposed(window.data()))
        qWarning("main window not exposed");
    return window.data();
}

mainpage *TestMainpage::createActiveWindow()
{
    mainpage *w = createWindow();
    QApplication::setActiveWindow(w);
    if (!QTest::qWaitForWindowActive(w))
        qWarning("main window not active");
    return w;
}

ebookTipDialog *TestMainpage::openGuide(mainpage *target)
{
    auto *description = findByName<QLabel>(target, "guideLinkLabel");
    if (!description)
        return nullptr;
    const int before = openGuides().size();
    // Through the label's own signal and its connection, as a click on the link does.
    QMetaObject::invokeMethod(description, "linkActivated", Q_ARG(QString, "ebookurl"));
    const QList<ebookTipDialog *> guides = openGuides();
    return guides.size() == before + 1 ? guides.last() : nullptr;
}

void TestMainpage::buildsTitleRowInOrder()
{
    mainpage *w = createWindow();
    auto *title = findByName<QLabel>(w, "titleLabel");
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Orla Nova 电子课本"));
    QCOMPARE(title->alignment(), Qt::AlignLeft | Qt::AlignVCenter);

    const QPixmap key(QStringLiteral("images/key.png"));
    QVERIFY(!key.isNull());
    auto *logo = findByName<QLabel>(w, "logoLabel");
    QVERIFY(logo);
    QVERIFY(logo->pixmap());
    QCOMPARE(logo->pixmap()->size(), key.size());
    QCOMPARE(logo->size(), key.size() + QSize(6, 0));

    QCOMPARE(w->findChildren<QToolButton *>().size(), 2);
    const QList<QToolButton *> buttons = {findByName<QToolButton>(w, "minimizeButton"),
                                          findByName<QToolButton>(w, "closeButton")};
    QVERIFY(buttons.at(0) && buttons.at(1));
    QVERIFY(buttons.at(0)->x() < buttons.at(1)->x());
    const QSize mini = QPixmap(QStringLiteral("images/mini.png")).size();
    const QSize close = QPixmap(QStringLiteral("images/close.png")).size();
    QCOMPARE(buttons.at(0)->size(), mini + QSize(5, 5));
    QCOMPARE(buttons.at(1)->size(), close + QSize(10, 10));
    QCOMPARE(buttons.at(1)->iconSize(), close);
    QCOMPARE(buttons.at(1)->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QVERIFY(logo->x() < title->x());
    QVERIFY(title->geometry().right() < buttons.at(0)->x());
    QVERIFY(buttons.at(1)->geometry().right() > w->width() - 20);
    QCOMPARE(w->windowTitle(), QStringLiteral("Orla Nova电子课本VIP卡"));
    QCOMPARE(w->objectName(), QStringLiteral("mainpage"));

    // The minimise button minimises, the close button closes.
    QTest::mouseClick(buttons.at(0), Qt::LeftButton);
    QVERIFY(w->windowState() & Qt::WindowMinimized);
    w->showNormal();
    QTest::mouseClick(buttons.at(1), Qt::LeftButton);
    QVERIFY(!w->isVisible());
}

void TestMainpage::buildsTitleButtonsWithoutImages()
{
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    mainpage *w = createWindow();
    auto *mini = findByName<QToolButton>(w, "minimizeButton");
    auto *close = findByName<QToolButton>(w, "closeButton");
    QVERIFY(mini && close);
    QCOMPARE(mini->size(), QSize(5, 5));
    QCOMPARE(close->size(), QSize(10, 10));
    QVERIFY(close->icon().isNull());
    QCOMPARE(w->size(), QSize(936, 760));
}

void TestMainpage::buildsCardInOrder()
{
    mainpage *w = createWindow();
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    auto *card = findByName<QWidget>(w, "ebookCard");
    QVERIFY(card);
    QCOMPARE(openClient->parentWidget(), card);
    QCOMPARE(card->size(), QSize(298, 500));
    QCOMPARE(card->styleSheet(),
             QStringLiteral("margin-left:10px;border-width:1px;border-style: solid;"
                            "border-color:#e2e0e1;border-radius:10px;background-color:#f4f4f4"));

    auto *layout = qobject_cast<QVBoxLayout *>(card->layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 8);

    // The labels from the top of the card down.
    struct Expected {
        const char *name;
        QString text;
        Qt::Alignment alignment;
        int height;
    };
    const QList<Expected> labels = {
        {"ebookPicture", QString(), Qt::AlignHCenter | Qt::AlignBottom, 110},
        {"cardTitleLabel", QStringLiteral("Orla Nova人教社电子课本\n一年VIP卡"), Qt::AlignHCenter,
         85},
        {"cardNameLabel", QStringLiteral("一年VIP卡"), Qt::AlignHCenter, 45},
        {"promptLabel", QStringLiteral("激活Orla Nova人教社电子课本VIP卡:"), Qt::AlignLeft, 25},
        {"guideLinkLabel", descriptionText, Qt::AlignTop, 70},
    };
    for (int i = 0; i < labels.size(); ++i) {
        auto *label = findByName<QLabel>(card, labels.at(i).name);
        QVERIFY2(label, labels.at(i).name);
        QCOMPARE(layoutIndexOf(layout, label), i);
        QCOMPARE(label->text(), labels.at(i).text);
        QCOMPARE(label->alignment(), labels.at(i).alignment);
        QCOMPARE(label->minimumSize(), QSize(278, labels.at(i).height));
        QCOMPARE(label->maximumSize(), QSize(278, labels.at(i).height));
    }
    auto *picture = findByName<QLabel>(card, "ebookPicture");
    QVERIFY(picture->pixmap() && !picture->pixmap()->isNull());
    auto *description = findByName<QLabel>(card, "guideLinkLabel");
    QVERIFY(description->wordWrap());
    // A 40-pixel spacer between the description and the open-client label, a 30-pixel one
    // after it, closing the card.
    const int descriptionAt = layoutIndexOf(layout, description);
    QVERIFY(layout->itemAt(descriptionAt + 1)->spacerItem());
    QCOMPARE(layout->itemAt(descriptionAt + 1)->spacerItem()->sizeHint().height(), 40);
    QCOMPARE(layoutIndexOf(layout, openClient), descriptionAt + 2);
    QCOMPARE(openClient->alignment(), Qt::AlignCenter);
    QCOMPARE(openClient->size(), QSize(278, 40));
    const int openClientAt = layoutIndexOf(layout, openClient);
    QCOMPARE(layout->count(), openClientAt + 2);
    QVERIFY(layout->itemAt(openClientAt + 1)->spacerItem());
    QCOMPARE(layout->itemAt(openClientAt + 1)->spacerItem()->sizeHint().height(), 30);
    QVERIFY(openClient->y() - description->geometry().bottom() > 40);

    // The hidden card name leaves no gap between the title and the prompt.
    auto *title = findByName<QLabel>(card, "cardTitleLabel");
    auto *name = findByName<QLabel>(card, "cardNameLabel");
    auto *prompt = findByName<QLabel>(card, "promptLabel");
    QVERIFY(!name->isVisible());
    QVERIFY(name->geometry().isEmpty() || !name->isVisibleTo(card));
    // The card shares its spare height out evenly between items: equal gaps show that the
    // hidden label takes no share of its own.
    QCOMPARE(prompt->y() - title->geometry().bottom(),
             description->y() - prompt->geometry().bottom());
    QVERIFY(openClient->geometry().top() - prompt->geometry().bottom() > 40);
}

void TestMainpage::ownsCloudClient()
{
    mainpage *w = createWindow();
    QCOMPARE(w->findChildren<TzCloud *>().size(), 1);
}

void TestMainpage::dragsWithAnyButton_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("left") << int(Qt::LeftButton);
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestMainpage::dragsWithAnyButton()
{
    QFETCH(int, button);
    mainpage *w = createWindow();
    w->move(100, 80);
    auto *heading = findByName<QLabel>(w, "headingLabel");
    QVERIFY(heading);
    QCOMPARE(heading->text(), QStringLiteral("激活您的电子课本VIP卡"));

    // A press on the heading: the label ignores it and the window sees it in its coordinates.
    const QPoint pressInHeading(30, 20);
    const QPoint pressInWindow = heading->mapTo(w, pressInHeading);
    sendMouse(heading, QEvent::MouseButtonPress, pressInHeading, Qt::MouseButton(button));
    QCursor::setPos(QPoint(500, 400));
    sendMouse(w, QEvent::MouseMove, w->mapFromGlobal(QPoint(500, 400)), Qt::MouseButton(button));
    QCOMPARE(w->pos(), QPoint(500, 400) - pressInWindow);

    sendMouse(w, QEvent::MouseButtonRelease, w->mapFromGlobal(QPoint(500, 400)),
              Qt::MouseButton(button));
    const QPoint settled = w->pos();
    QCursor::setPos(QPoint(700, 600));
    sendMouse(w, QEvent::MouseMove, w->mapFromGlobal(QPoint(700, 600)), Qt::NoButton);
    QCOMPARE(w->pos(), settled);
}

void TestMainpage::leftPressOnTitleButtonDoesNotDrag()
{
    mainpage *w = createWindow();
    w->move(100, 80);
    auto *mini = findByName<QToolButton>(w, "minimizeButton");
    QVERIFY(mini);

    sendMouse(mini, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton);
    QCursor::setPos(QPoint(600, 500));
    sendMouse(w, QEvent::MouseMove, w->mapFromGlobal(QPoint(600, 500)), Qt::LeftButton);
    QCOMPARE(w->pos(), QPoint(100, 80));
    sendMouse(mini, QEvent::MouseButtonRelease, QPoint(200, 200), Qt::LeftButton);

    // A right press passes through the button to the window and does drag.
    sendMouse(mini, QEvent::MouseButtonPress, QPoint(2, 2), Qt::RightButton);
    const QPoint offset = mini->mapTo(w, QPoint(2, 2));
    sendMouse(w, QEvent::MouseMove, w->mapFromGlobal(QPoint(600, 500)), Qt::RightButton);
    QCOMPARE(w->pos(), QPoint(600, 500) - offset);
}

void TestMainpage::filterConsumesPressesOnOpenClientLabel()
{
    mainpage *w = createWindow();
    w->move(100, 80);
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(5, 5), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QVERIFY(w->eventFilter(openClient, &press));
    QVERIFY(!w->eventFilter(openClient, &release));
    QVERIFY(!w->eventFilter(openClient, &doubleClick));

    // A consumed press, of any button, starts no drag.
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        w->showNormal();
        sendMouse(openClient, QEvent::MouseButtonPress, QPoint(5, 5), button);
        QCursor::setPos(QPoint(600, 500));
        sendMouse(w, QEvent::MouseMove, w->mapFromGlobal(QPoint(600, 500)), button);
        QCOMPARE(w->pos(), QPoint(100, 80));
        sendMouse(w, QEvent::MouseButtonRelease, w->mapFromGlobal(QPoint(600, 500)), button);
    }
}

void TestMainpage::launchesClientFromInstallPath_data()
{
    QTest::addColumn<QString>("installPath");
    QTest::addColumn<QString>("file");
    // Existing folders; the file joined to them is not normalised.
    const QString client = QStringLiteral("\\OrlaEntrance\\OrlaEntrance.exe");
    const QString apps = installFolder("Apps");
    QTest::newRow("plain") << apps << apps + client;
    QTest::newRow("trailing separator")
        << apps + QDir::separator() << apps + QDir::separator() + client;
    QTest::newRow("spaces and chinese")
        << installFolder("课堂 软件") << installFolder("课堂 软件") + client;
#ifdef Q_OS_WIN
    // Windows reads "/" as a separator too.
    const QString slashes = installRoot.path() + "/Apps";
    QTest::newRow("forward slashes") << slashes << slashes + client;
#endif
}

void TestMainpage::launchesClientFromInstallPath()
{
    QFETCH(QString, installPath);
    QFETCH(QString, file);
    setInstallPath(installPath);
    MessageCapture::install();
    mainpage *w = createWindow();
    QCOMPARE(MessageCapture::messages().value(0),
             QStringLiteral("\"%1\"").arg(QString(installPath + "\\").replace("\\", "\\\\")));
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);

    int expectedCalls = 0;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        w->showNormal();
        w->move(120, 90);
        MessageCapture::messages().clear();
        QTest::mousePress(openClient, button, Qt::NoModifier, QPoint(10, 10));
        ++expectedCalls;
        QCOMPARE(launcher->calls.size(), expectedCalls);
        const RecordingShellLauncher::Call call = launcher->calls.last();
        QCOMPARE(call.verb, QStringLiteral("open"));
        QCOMPARE(call.file, file);
        QVERIFY(call.parameters.isEmpty() && !call.parameters.isNull());
        QVERIFY(call.workingDirectory.isNull());
        QCOMPARE(call.showCommand, 1);
        QVERIFY(w->windowState() & Qt::WindowMinimized);
        QCOMPARE(w->pos(), QPoint(120, 90));
        QCOMPARE(MessageCapture::messages(), QStringList{"\"\""});
        QTest::mouseRelease(openClient, button, Qt::NoModifier, QPoint(10, 10));
    }
    setInstallPath(QVariant());
}

void TestMainpage::readsInstallPathWrittenAsPlainUtf8()
{
#ifdef Q_OS_WIN
    QSKIP("the install path lives in the registry on Windows");
#else
    const QString file =
        QSettings(QSettings::NativeFormat, QSettings::SystemScope, "Lessa", "Lessa").fileName();
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QString folder = installFolder("课堂软件");
    conf.write(QString("[General]\nInstallPath=" + folder + "\n").toUtf8());
    conf.close();

    mainpage *w = createWindow();
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    QTest::mousePress(openClient, Qt::LeftButton);
    QCOMPARE(launcher->calls.size(), 1);
    QCOMPARE(launcher->calls.first().file, folder + "\\OrlaEntrance\\OrlaEntrance.exe");
    QVERIFY(w->windowState() & Qt::WindowMinimized);
    setInstallPath(QVariant());
#endif
}

void TestMainpage::doesNotLaunchWithoutInstallPath_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("missing") << QVariant();
    QTest::newRow("empty") << QVariant(QString());
    QTest::newRow("relative") << QVariant("Apps\\Lessa");
    QTest::newRow("backslash: a network share") << QVariant("\\");
    QTest::newRow("UNC share") << QVariant("\\\\server\\share");
#ifdef Q_OS_WIN
    QTest::newRow("root of the current drive") << QVariant("\\Apps");
    // Any user may create folders in the root of a drive.
    for (const char *root : {"C:", "C:\\", "C:/", "c:\\..", "C:\\..\\", "C:\\Windows\\..\\"})
        QTest::newRow(root) << QVariant(root);
#else
    QTest::newRow("windows drive") << QVariant("D:\\Apps");
    QTest::newRow("double slash") << QVariant("//server/share");
    QTest::newRow("root") << QVariant("/");
    QTest::newRow("up from the root") << QVariant("/..");
#endif
    QTest::newRow("missing directory") << QVariant(installFolder("Missing"));
    QTest::newRow("a file") << QVariant(installFolder("file.txt"));
    QTest::newRow("up and down to a directory") << QVariant(installFolder("Apps/../Apps"));
    QTest::newRow("dot") << QVariant(installFolder("./Apps"));
}

void TestMainpage::doesNotLaunchWithoutInstallPath()
{
    QFETCH(QVariant, value);
    setInstallPath(value);
    mainpage *w = createWindow();
    MessageCapture::install();
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    QTest::mousePress(openClient, Qt::LeftButton);
    QVERIFY(launcher->calls.isEmpty());
    QVERIFY(!(w->windowState() & Qt::WindowMinimized));
    QCOMPARE(MessageCapture::messages().size(), 1);
    QVERIFY(MessageCapture::messages().first().contains("not configured"));
    setInstallPath(QVariant());
}

void TestMainpage::failedLaunchLeavesWindowInPlace()
{
    setInstallPath(installFolder("Apps"));
    mainpage *w = createWindow();
    w->move(120, 90);
    launcher->succeeds = false;
    MessageCapture::install();
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    QTest::mousePress(openClient, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(launcher->calls.size(), 1);
    QVERIFY(!(w->windowState() & Qt::WindowMinimized));
    QCOMPARE(w->pos(), QPoint(120, 90));
    QCOMPARE(MessageCapture::messages().size(), 1);
    QVERIFY(MessageCapture::messages().first().contains("could not start"));
    QTest::mouseRelease(openClient, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));

    // Once the shell starts the client, the window gets out of its way.
    launcher->succeeds = true;
    MessageCapture::messages().clear();
    QTest::mousePress(openClient, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(launcher->calls.size(), 2);
    QVERIFY(w->windowState() & Qt::WindowMinimized);
    QCOMPARE(MessageCapture::messages(), QStringList{"\"\""});
    setInstallPath(QVariant());
}

void TestMainpage::findsInstallPathInEitherRegistryView_data()
{
    QTest::addColumn<QString>("in32");
    QTest::addColumn<QString>("in64");
    QTest::addColumn<QString>("expected");
    const QString apps = installFolder("Apps");
    const QString chinese = installFolder("课堂 软件");
    // A 32-bit process sees the 32-bit view as its own, a 64-bit one the 64-bit view.
    const QString native = sizeof(void *) == 4 ? apps : chinese;
    QTest::newRow("32-bit view only") << apps << QString() << apps;
    QTest::newRow("64-bit view only") << QString() << chinese << chinese;
    QTest::newRow("both views: the native one") << apps << chinese << native;
    // An empty value in the process's own view (an uninstaller's leftover) is no value.
    const QString empty = QLatin1String("");
    if (sizeof(void *) == 4)
        QTest::newRow("empty in the native view") << empty << chinese << chinese;
    else
        QTest::newRow("empty in the native view") << apps << empty << apps;
}

void TestMainpage::findsInstallPathInEitherRegistryView()
{
#ifndef Q_OS_WIN
    QSKIP("the registry and its two views exist on Windows only");
#else
    QFETCH(QString, in32);
    QFETCH(QString, in64);
    QFETCH(QString, expected);
    setInstallPath(QVariant());
    if (!in32.isNull())
        setInstallPath(in32, QSettings::Registry32Format);
    if (!in64.isNull())
        setInstallPath(in64, QSettings::Registry64Format);
    MessageCapture::install();
    mainpage *w = createWindow();
    QCOMPARE(MessageCapture::messages().value(0),
             QStringLiteral("\"%1\"").arg(QString(expected + "\\").replace("\\", "\\\\")));
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    QTest::mousePress(openClient, Qt::LeftButton);
    QCOMPARE(launcher->calls.size(), 1);
    QCOMPARE(launcher->calls.first().file, expected + "\\OrlaEntrance\\OrlaEntrance.exe");
    setInstallPath(QVariant());
#endif
}

void TestMainpage::guideLinkOpensDialogOverDimmedWindow()
{
    mainpage *w = createWindow();
    w->move(140, 70);
    MessageCapture::install();
    ebookTipDialog *guide = openGuide(w);
    QVERIFY(guide);
    QCOMPARE(MessageCapture::messages(), QStringList{"\"ebookurl\""});

    QCOMPARE(guide->size(), QSize(560, 544));
    QCOMPARE(guide->minimumSize(), guide->maximumSize());
    QVERIFY(guide->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(guide->isModal());
    QVERIFY(guide->isVisible());
    QVERIFY(!guide->parent());
    QCOMPARE(QApplication::activeModalWidget(), guide);

    QCOMPARE(w->findChildren<TzBackGroundWnd *>().size(), 1);
    auto *overlay = findByName<TzBackGroundWnd>(w, "backgroundOverlay");
    QVERIFY(overlay);
    QCOMPARE(g_backGroundWnd.data(), overlay);
    QVERIFY(overlay->isVisible());
    QCOMPARE(overlay->pos(), QPoint(140, 70));
    QCOMPARE(overlay->size(), QSize(936, 760));
    guide->close();
}

void TestMainpage::guideIsOwnedByTheOverlayAndStaysModal()
{
    setInstallPath(installFolder("Apps"));
    mainpage *w = createWindow();
    w->move(140, 70);
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    QVERIFY(openClient);
    ebookTipDialog *guide = openGuide(w);
    QVERIFY(guide);

    // The chain Windows keeps in this order whatever is activated: main window, overlay, guide.
    QVERIFY(guide->windowHandle());
    QVERIFY(g_backGroundWnd && g_backGroundWnd->windowHandle());
    QCOMPARE(guide->windowHandle()->transientParent(), g_backGroundWnd->windowHandle());
    QCOMPARE(g_backGroundWnd->windowHandle()->transientParent(), w->windowHandle());

    // Still a parentless, application-modal guide, placed as any parentless dialog.
    QVERIFY(!guide->parent());
    QCOMPARE(guide->windowModality(), Qt::ApplicationModal);
    QCOMPARE(QApplication::activeModalWidget(), guide);
    ebookTipDialog reference(nullptr);
    reference.setFixedSize(560, 544);
    reference.setWindowFlags(Qt::FramelessWindowHint);
    reference.show();
    QCOMPARE(guide->pos(), reference.pos());
    reference.hide();

    // A click that the window system delivers to the main window goes nowhere while the guide
    // is open, and starts the client once the guide is closed.
    const QPoint onOpenClient = openClient->mapTo(w, QPoint(10, 10));
    QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, onOpenClient);
    QVERIFY(launcher->calls.isEmpty());
    QVERIFY(guide->isVisible());
    guide->slotdialogclose();
    QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, onOpenClient);
    QCOMPARE(launcher->calls.size(), 1);
    setInstallPath(QVariant());
}

void TestMainpage::otherLinkChangesNothing()
{
    mainpage *w = createWindow();
    MessageCapture::install();
    auto *description = findByName<QLabel>(w, "guideLinkLabel");
    QVERIFY(description);
    QMetaObject::invokeMethod(description, "linkActivated", Q_ARG(QString, "EBOOKURL"));
    QMetaObject::invokeMethod(w, "openUrl", Q_ARG(QString, "https://example.com/"));
    QVERIFY(openGuides().isEmpty());
    QVERIFY(w->findChildren<TzBackGroundWnd *>().isEmpty());
    QVERIFY(MessageCapture::messages().isEmpty());
}

void TestMainpage::dialogCloseWithoutOverlayDoesNothing()
{
    mainpage *w = createWindow();
    MessageCapture::install();
    QVERIFY(QMetaObject::invokeMethod(w, "slotdialogclose"));
    QVERIFY(w->findChildren<TzBackGroundWnd *>().isEmpty());
    QVERIFY(w->isVisible());
    QVERIFY(MessageCapture::messages().isEmpty());
}

void TestMainpage::everyWayOfClosingTheGuideHidesTheOverlay_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close button") << "button";
    QTest::newRow("escape") << "escape";
    QTest::newRow("close request") << "request";
    QTest::newRow("reject") << "reject";
}

void TestMainpage::everyWayOfClosingTheGuideHidesTheOverlay()
{
    QFETCH(QString, how);
    mainpage *w = createWindow();
    ebookTipDialog *guide = openGuide(w);
    QVERIFY(guide);
    QPointer<ebookTipDialog> guideAlive(guide);
    QPointer<TzBackGroundWnd> overlay(g_backGroundWnd);
    QVERIFY(overlay && overlay->isVisible());

    QSignalSpy spy(guide, SIGNAL(sigdialogclose()));
    bool overlayHiddenFirst = false;
    // Connected after the main window's own connection, so it runs after its slot.
    connect(guide, &ebookTipDialog::sigdialogclose, this, [&] {
        overlayHiddenFirst = overlay && overlay->isHidden() && guideAlive->isVisible();
    });

    if (how == "button") {
        auto *close = findByName<QToolButton>(guide, "closeButton");
        QVERIFY(close);
        QTest::mouseClick(close, Qt::LeftButton);
    } else if (how == "escape") {
        QTest::keyClick(guide, Qt::Key_Escape);
    } else if (how == "request") {
        QCloseEvent request;
        QApplication::sendEvent(guide->windowHandle(), &request);
    } else {
        guide->reject();
    }

    QCOMPARE(spy.count(), 1);
    QVERIFY(overlayHiddenFirst);
    QVERIFY(!guideAlive || !guideAlive->isVisible());
    flushDeletions();
    QVERIFY(!guideAlive);
    // The overlay stays, hidden, for the next opening.
    QVERIFY(overlay && overlay->isHidden());
    QCOMPARE(g_backGroundWnd.data(), overlay.data());
    QVERIFY(!QApplication::activeModalWidget());

    // Nothing is left over the main window, and a stray close signal changes nothing.
    QMetaObject::invokeMethod(w, "slotdialogclose");
    QCOMPARE(w->findChildren<TzBackGroundWnd *>().size(), 1);
    QVERIFY(overlay->isHidden());
}

void TestMainpage::secondOpeningFollowsTheMovedWindow()
{
    mainpage *w = createWindow();
    w->move(100, 50);
    ebookTipDialog *first = openGuide(w);
    QVERIFY(first);
    QCOMPARE(g_backGroundWnd->pos(), QPoint(100, 50));
    const QPointer<TzBackGroundWnd> firstOverlay(g_backGroundWnd);
    first->slotdialogclose();
    flushDeletions();

    w->move(260, 140);
    ebookTipDialog *second = openGuide(w);
    QVERIFY(second);
    QVERIFY(second != first || openGuides().size() == 1);
    QCOMPARE(w->findChildren<TzBackGroundWnd *>().size(), 1);
    QCOMPARE(g_backGroundWnd.data(), firstOverlay.data());
    QCOMPARE(g_backGroundWnd->pos(), QPoint(260, 140));
    QVERIFY(g_backGroundWnd->isVisible());
    second->slotdialogclose();
}

void TestMainpage::objectCountStaysFlatOverGuideCycles()
{
    mainpage *w = createWindow();
    const auto liveObjects = [w] {
        return QApplication::allWidgets().size() + w->findChildren<QObject *>().size();
    };
    const auto cycle = [this, w] {
        ebookTipDialog *guide = openGuide(w);
        if (!guide)
            return false;
        guide->slotdialogclose();
        flushDeletions();
        return true;
    };
    QVERIFY(cycle());
    const int afterFirst = liveObjects();
    for (int i = 0; i < 200; ++i)
        QVERIFY(cycle());
    QCOMPARE(liveObjects(), afterFirst);
    QVERIFY(openGuides().isEmpty());
    QCOMPARE(w->findChildren<TzBackGroundWnd *>().size(), 1);
}

QTEST_MAIN(TestMainpage)
#include "TestMainpage.moc"

void TestMainpage::tabReachesEveryActionInReadingOrder()
{
    mainpage *w = createActiveWindow();
    QWidget *const openClient = findByName<QLabel>(w, "openClientLabel");
    auto *guideLink = findByName<QLabel>(w, "guideLinkLabel");
    const QList<QWidget *> order = {findByName<QToolButton>(w, "minimizeButton"),
                                    findByName<QToolButton>(w, "closeButton"), guideLink,
                                    openClient};
    QVERIFY(!order.contains(nullptr));
    QCOMPARE(QApplication::focusWidget(), openClient);
    for (int round = 0; round < 2; ++round) {
        for (QWidget *expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }
    for (int i = order.size() - 2; i >= -1; --i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), order.value(i, openClient));
    }
    // The focused link is selected (the focus mark); away from it, nothing is.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), guideLink);
    QCOMPARE(guideLink->selectedText(), QStringLiteral("激活指南"));
    QTest::keyClick(guideLink, Qt::Key_Tab);
    QVERIFY(!guideLink->hasSelectedText());
}

void TestMainpage::keysDoWhatClicksDo()
{
    setInstallPath(installFolder("Apps"));
    mainpage *w = createActiveWindow();
    auto *openClient = findByName<QLabel>(w, "openClientLabel");
    auto *guideLink = findByName<QLabel>(w, "guideLinkLabel");
    auto *minimize = findByName<QToolButton>(w, "minimizeButton");
    QVERIFY(openClient && guideLink && minimize);

    // Enter, the keypad's Enter and Space each start the client once; a held key repeats nothing.
    QTest::keyClick(openClient, Qt::Key_Return);
    QTest::keyClick(openClient, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(openClient, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(openClient, &repeat);
    QTest::keyClick(openClient, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(launcher->calls.size(), 3);
    QCOMPARE(launcher->calls.first().file,
             installFolder("Apps") + "\\OrlaEntrance\\OrlaEntrance.exe");

    // Enter on the link opens the guide over the veil; closing it gives the focus back.
    w->showNormal();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    guideLink->setFocus(Qt::TabFocusReason);
    QTest::keyClick(guideLink, Qt::Key_Return);
    QCOMPARE(openGuides().size(), 1);
    ebookTipDialog *guide = openGuides().first();
    QVERIFY(guide->isVisible());
    QVERIFY(g_backGroundWnd && g_backGroundWnd->isVisible());
    auto *guideClose = findByName<QToolButton>(guide, "closeButton");
    QVERIFY(guideClose);
    QTRY_COMPARE(QApplication::focusWidget(), guideClose);
    QTest::keyClick(guideClose, Qt::Key_Space);
    QVERIFY(!guide->isVisible());
    QVERIFY(g_backGroundWnd->isHidden());
    QTRY_COMPARE(QApplication::focusWidget(), guideLink);
    QCOMPARE(guideLink->selectedText(), QStringLiteral("激活指南"));
    QTest::keyClick(guideLink, Qt::Key_Space);
    QTRY_COMPARE(openGuides().size(), 1);
    QVERIFY(openGuides().first()->isVisible());
    openGuides().first()->close();

    // Enter on a title button clicks it.
    QTRY_VERIFY(w->isActiveWindow());
    QTest::keyClick(minimize, Qt::Key_Return);
    QVERIFY(w->isMinimized());
}

void TestMainpage::screenReaderNamesAndPressesEveryControl()
{
    setInstallPath(installFolder("Apps"));
    mainpage *w = createActiveWindow();
    QAccessibleInterface *windowInterface = QAccessible::queryAccessibleInterface(w);
    QVERIFY(windowInterface);
    QVERIFY(!w->windowTitle().isEmpty());
    QCOMPARE(windowInterface->text(QAccessible::Name), w->windowTitle());

    struct Control {
        const char *objectName;
        QString name;
    };
    for (const Control &control : {Control{"minimizeButton", QStringLiteral("最小化")},
                                   Control{"closeButton", QStringLiteral("关闭")},
                                   Control{"openClientLabel", QStringLiteral("打开客户端")}}) {
        QAccessibleInterface *button =
            QAccessible::queryAccessibleInterface(findByName<QWidget>(w, control.objectName));
        QVERIFY(button);
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), control.name);
        QVERIFY(button->actionInterface());
        QVERIFY(button->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }
    QAccessibleInterface *openClient =
        QAccessible::queryAccessibleInterface(findByName<QWidget>(w, "openClientLabel"));
    openClient->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(launcher->calls.size(), 1);

    // The description is text with the guide link inside it.
    QAccessibleInterface *description =
        QAccessible::queryAccessibleInterface(findByName<QWidget>(w, "guideLinkLabel"));
    QVERIFY(description);
    QCOMPARE(description->role(), QAccessible::StaticText);
    QVERIFY(description->text(QAccessible::Name).endsWith(QStringLiteral("查看详细激活指南")));
    QCOMPARE(description->childCount(), 1);
    QAccessibleInterface *link = description->child(0);
    QVERIFY(link);
    QCOMPARE(link->role(), QAccessible::Link);
    QCOMPARE(link->text(QAccessible::Name), QStringLiteral("激活指南"));
    QCOMPARE(link->parent(), description);
    QCOMPARE(description->indexOfChild(link), 0);
    QVERIFY(link->state().focusable && !link->state().focused);
    QVERIFY(link->actionInterface());
    QCOMPARE(link->actionInterface()->actionNames(),
             QStringList(QAccessibleActionInterface::pressAction()));

    // Pressed, the link opens the guide over the veil, as a click does.
    w->showNormal();
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(openGuides().size(), 1);
    QVERIFY(openGuides().first()->isVisible());
    QVERIFY(g_backGroundWnd && g_backGroundWnd->isVisible());

    // Behind the modal guide, as for a click, the actions do nothing.
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    openClient->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::qWait(50);
    QCOMPARE(openGuides().size(), 1);
    QCOMPARE(launcher->calls.size(), 1);
}

void TestMainpage::focusedLinkStillTakesAClick()
{
    mainpage *w = createActiveWindow();
    auto *guideLink = findByName<QLabel>(w, "guideLinkLabel");
    QVERIFY(guideLink);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), guideLink);
    QVERIFY(guideLink->hasSelectedText());

    const QVector<LinkLabelAccessible::Anchor> anchors = LinkLabelAccessible::anchors(guideLink);
    QCOMPARE(anchors.size(), 1);
    const QRect link = LinkLabelAccessible::anchorRect(guideLink, anchors.first());
    QVERIFY(!link.isEmpty());
    QCOMPARE(QAccessible::queryAccessibleInterface(guideLink)->child(0)->rect(),
             QRect(guideLink->mapToGlobal(link.topLeft()), link.size()));
    // Beside the link a click opens nothing; on it (where the screen reader says it is), the
    // guide, focused or not.
    QTest::mouseClick(guideLink, Qt::LeftButton, Qt::NoModifier, QPoint(2, link.center().y()));
    QCOMPARE(openGuides().size(), 0);
    QTest::mouseClick(guideLink, Qt::LeftButton, Qt::NoModifier, link.center());
    QCOMPARE(openGuides().size(), 1);
}

void TestMainpage::heldEscapeLeavesTheWindowOpen()
{
    mainpage *w = createActiveWindow();
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(QApplication::focusWidget(), &repeat);
    QVERIFY(w->isVisible());
    // A fresh press still closes it, as a dialog's Escape does.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!w->isVisible());
}
