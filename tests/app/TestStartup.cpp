#include "Startup.h"
#include "StyleSheetLoader.h"
#include "TzApplicationEngine.h"
#include "VersionIni.h"
#include "mainpage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void findsVersionIniBesideExecutable();
    void needLogSwitch_data();
    void needLogSwitch();
    void presentsMainWindow();
    void readsStyleSheetFromWorkingDirectory();
    void toleratesMissingStyleSheet();
    void needLogWritesLinesFromRealStartup();

private:
    QTemporaryDir work;
    QString originalDirectory;
};

void TestStartup::initTestCase()
{
    QVERIFY(work.isValid());
    originalDirectory = QDir::currentPath();
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, work.path() + "/system");
    // On Windows that is the real registry (of the test prefix), which another test may have
    // left an install path in.
    QSettings(QSettings::NativeFormat, QSettings::SystemScope, "Lessa", "Lessa")
        .remove("InstallPath");
}

void TestStartup::cleanup()
{
    QDir::setCurrent(originalDirectory);
    qApp->setStyleSheet(QString());
}

void TestStartup::findsVersionIniBesideExecutable()
{
    QVERIFY(QDir::setCurrent(work.path()));
    QCOMPARE(VersionIni::path(), QCoreApplication::applicationDirPath() + "/version.ini");
}

void TestStartup::needLogSwitch_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("1") << QByteArray("[General]\nNeedLog=1\n") << true;
    QTest::newRow("2") << QByteArray("NeedLog=2\n") << true;
    QTest::newRow("-1") << QByteArray("NeedLog=-1\n") << true;
    QTest::newRow("0") << QByteArray("NeedLog=0\n") << false;
    QTest::newRow("true") << QByteArray("NeedLog=true\n") << false;
    QTest::newRow("abc") << QByteArray("NeedLog=abc\n") << false;
    QTest::newRow("missing key") << QByteArray("cloudHost=http://x/\n") << false;
    QTest::newRow("in another group") << QByteArray("[Other]\nNeedLog=1\n") << false;
    QTest::newRow("random bytes") << QByteArray("\x01\xff\xfe=\x80\n[\n=\n") << false;
}

void TestStartup::needLogSwitch()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, enabled);
    const QString path = work.path() + "/ini/version.ini";
    writeFile(path, content);
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(Startup::isLogRequested(ini), enabled);

    QSettings missing(work.path() + "/no/such/version.ini", QSettings::IniFormat);
    QVERIFY(!Startup::isLogRequested(missing));
}

void TestStartup::presentsMainWindow()
{
    mainpage window;
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    Startup::presentMainWindow(&window);

    QCOMPARE(window.windowFlags() & ~Qt::WindowType_Mask, Qt::WindowFlags(Qt::FramelessWindowHint));
    QCOMPARE(window.windowType(), Qt::Window);
    QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(window.size(), QSize(936, 760));
    QCOMPARE(window.minimumSize(), QSize(936, 760));
    QCOMPARE(window.maximumSize(), QSize(936, 760));
    QCOMPARE(window.styleSheet(),
             QStringLiteral("border-width:0px;border-style: solid;border-color:#e0e0e0;"
                            "border-radius:4px;background-color:#f7f7f7"));
    QCOMPARE(TzApplicationEngine::instance()->mainWidth, 936);
    QCOMPARE(TzApplicationEngine::instance()->mainHeight, 760);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(936, 760));
}

void TestStartup::readsStyleSheetFromWorkingDirectory()
{
    const QByteArray sheet = "QLabel { color: #4778c7; } /* 微软雅黑 */\n";
    writeFile(work.path() + "/mainqss/main.qss", sheet);
    QVERIFY(QDir().mkpath(work.path() + "/run"));
    QVERIFY(QDir::setCurrent(work.path() + "/run"));
    loadGlobalStyleSheet();
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet));
}

void TestStartup::toleratesMissingStyleSheet()
{
    qApp->setStyleSheet(QStringLiteral("QWidget{}"));
    QVERIFY(QDir::setCurrent(QDir::rootPath()));
    loadGlobalStyleSheet();
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QWidget{}"));
}

void TestStartup::needLogWritesLinesFromRealStartup()
{
    // The executable and its version.ini in one folder, started from another.
    const QString binDir = work.path() + "/bin";
    const QString runDir = work.path() + "/cwd";
    QVERIFY(QDir().mkpath(binDir));
    QVERIFY(QDir().mkpath(runDir));
    const QString executable = binDir + "/" + QFileInfo(QStringLiteral(VIPCARD_BINARY)).fileName();
    QVERIFY(QFile::copy(QStringLiteral(VIPCARD_BINARY), executable));
    writeFile(binDir + "/version.ini", "[General]\nNeedLog=1\ncloudHost=http://127.0.0.1:9/\n");

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", work.path() + "/home-config");
    environment.insert("XDG_CONFIG_DIRS", work.path() + "/system-config");
    // The platform comes from Qt's own command-line option, through the GUI entry point. The
    // Windows build links no offscreen platform: there it opens its window on the test's desktop.
    environment.remove("QT_QPA_PLATFORM");
    app.setProcessEnvironment(environment);
    app.setWorkingDirectory(runDir);
#ifdef Q_OS_WIN
    app.start(executable, {"-platform", "windows"});
#else
    app.start(executable, {"-platform", "offscreen"});
#endif
    QVERIFY(app.waitForStarted());

    QByteArray content;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QStringList files = QDir(runDir + "/log").entryList({"log_*.txt"}, QDir::Files);
            if (files.isEmpty())
                return false;
            QFile file(runDir + "/log/" + files.first());
            content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            return content.contains("http://127.0.0.1:9/");
        }(),
        20000);
    app.kill();
    app.waitForFinished();

    QVERIFY2(content.contains(" Debug: \"\\\\\" ( 0)\r\n"), content.constData());
    QVERIFY2(content.contains(" Debug: \"http://127.0.0.1:9/\" ( 0)\r\n"), content.constData());
    // Every line ends in CR LF and begins with its time; a message may hold line feeds of its own.
    QVERIFY(content.endsWith("\r\n"));
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d{3} "));
    QStringList lines = QString::fromUtf8(content).split(QStringLiteral("\r\n"));
    lines.removeLast();
    for (const QString &line : lines)
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
}

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
