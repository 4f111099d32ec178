#include "MessageCapture.h"
#include "TzApplicationEngine.h"

#include <QMetaMethod>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

class TestTzApplicationEngine : public QObject
{
    Q_OBJECT

private slots:
    void instanceIsSingleAndStartsAtZero();
    void metaObjectInterface();
    void handleMessageCountsAndEmits();
    void instanceIsNullAfterStaticTeardown();
};

void TestTzApplicationEngine::instanceIsSingleAndStartsAtZero()
{
    TzApplicationEngine *engine = TzApplicationEngine::instance();
    QVERIFY(engine);
    QCOMPARE(TzApplicationEngine::instance(), engine);
    QCOMPARE(engine->mainWidth, 0);
    QCOMPARE(engine->mainHeight, 0);
    QVERIFY(!engine->parent());
    QVERIFY(!engine->isVisible());
}

void TestTzApplicationEngine::metaObjectInterface()
{
    const QMetaObject *meta = TzApplicationEngine::instance()->metaObject();
    QCOMPARE(meta->className(), "TzApplicationEngine");
    QVERIFY(TzApplicationEngine::instance()->qt_metacast("TzApplicationEngine"));
    QCOMPARE(meta->superClass(), &QWidget::staticMetaObject);

    const QList<QByteArray> expected = {"needToShow()", "needtofresh(QString)",
                                        "secondexecute(int)", "handleMessage(QString)"};
    QCOMPARE(meta->methodCount() - meta->methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), expected.at(i));
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.methodType(), i < 3 ? QMetaMethod::Signal : QMetaMethod::Slot);
    }
    QCOMPARE(meta->method(meta->methodOffset() + 3).parameterNames(), QList<QByteArray>{"message"});
    QCOMPARE(meta->propertyCount() - meta->propertyOffset(), 0);
    QCOMPARE(meta->enumeratorCount() - meta->enumeratorOffset(), 0);
    QCOMPARE(meta->classInfoCount() - meta->classInfoOffset(), 0);
    QCOMPARE(meta->constructorCount(), 0);
}

void TestTzApplicationEngine::handleMessageCountsAndEmits()
{
    TzApplicationEngine *engine = TzApplicationEngine::instance();
    QSignalSpy spy(engine, SIGNAL(secondexecute(int)));
    MessageCapture::install();

    struct Case {
        QString message;
        int emissions;
    };
    const QList<Case> cases = {{"a,b", 1},   {"a,", 1}, {",", 1}, {"plain", 0},
                               {"x,y,z", 0}, {"", 0},   {",,", 0}};
    for (const Case &c : cases) {
        spy.clear();
        QMetaObject::invokeMethod(engine, "handleMessage", Q_ARG(QString, c.message));
        QCOMPARE(spy.count(), c.emissions);
        if (c.emissions)
            QCOMPARE(spy.first().first().toInt(), 0);
    }
    MessageCapture::uninstall();

    QCOMPARE(MessageCapture::messages().size(), cases.size());
    QCOMPARE(MessageCapture::messages().at(0), QStringLiteral("####i =  0  messages ==  \"a,b\""));
    QCOMPARE(MessageCapture::messages().at(1), QStringLiteral("####i =  1  messages ==  \"a,\""));
    QCOMPARE(MessageCapture::messages().at(5), QStringLiteral("####i =  5  messages ==  \"\""));
}

void TestTzApplicationEngine::instanceIsNullAfterStaticTeardown()
{
    QProcess probe;
    probe.start(QStringLiteral(TEARDOWN_PROBE), QStringList{});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    const QByteArray output = probe.readAllStandardOutput();
    QVERIFY2(output.contains("during-run:same"), output.constData());
    QVERIFY2(output.contains("after-teardown:null,null"), output.constData());
}

QTEST_MAIN(TestTzApplicationEngine)
#include "TestTzApplicationEngine.moc"
