#include "SystemShellLauncher.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSystemShellLauncher : public QObject
{
    Q_OBJECT

private slots:
    void mapsWindowsSeparators();
    void acceptsOnlyAbsoluteLocalPaths_data();
    void acceptsOnlyAbsoluteLocalPaths();
    void startsExecutableDetached();
};

void TestSystemShellLauncher::mapsWindowsSeparators()
{
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa/OrlaEntrance/OrlaEntrance.exe"));
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa/\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa//OrlaEntrance/OrlaEntrance.exe"));
}

void TestSystemShellLauncher::acceptsOnlyAbsoluteLocalPaths_data()
{
    // Install paths as the main window builds them: the registry value plus a backslash.
    QTest::addColumn<QString>("installPath");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<bool>("posix");
    QTest::newRow("empty value") << "\\" << false << false;
    QTest::newRow("drive") << "D:\\Apps\\" << true << false;
    QTest::newRow("drive, trailing backslash") << "D:\\Apps\\\\" << true << false;
    QTest::newRow("lower-case drive") << "c:\\x\\" << true << false;
    QTest::newRow("drive root") << "D:\\" << true << false;
    QTest::newRow("drive-relative") << "D:Apps\\" << false << false;
    QTest::newRow("drive, slash") << "D:/Apps\\" << false << false;
    QTest::newRow("not a letter") << "1:\\Apps\\" << false << false;
    QTest::newRow("root of the current drive") << "\\Apps\\" << false << true;
    QTest::newRow("backslash value: a share") << "\\\\" << false << false;
    QTest::newRow("UNC share") << "\\\\server\\share\\" << false << false;
    QTest::newRow("relative") << "Apps\\" << false << false;
    QTest::newRow("dot-relative") << ".\\Apps\\" << false << false;
    QTest::newRow("posix") << "/opt/lessa\\" << false << true;
    QTest::newRow("posix, trailing slash") << "/opt/lessa/\\" << false << true;
    QTest::newRow("posix root value") << "/\\" << false << false;
    QTest::newRow("posix double slash") << "//host/share\\" << false << false;
    QTest::newRow("chinese") << "/opt/课堂\\" << false << true;
}

void TestSystemShellLauncher::acceptsOnlyAbsoluteLocalPaths()
{
    QFETCH(QString, installPath);
    QFETCH(bool, windows);
    QFETCH(bool, posix);
    QCOMPARE(SystemShellLauncher::isAbsoluteLocalWindowsPath(installPath), windows);
    QCOMPARE(SystemShellLauncher::isAbsoluteLocalPosixPath(installPath), posix);
#ifdef Q_OS_WIN
    QCOMPARE(SystemShellLauncher::isAbsoluteLocalPath(installPath), windows);
#else
    QCOMPARE(SystemShellLauncher::isAbsoluteLocalPath(installPath), posix);
#endif
}

void TestSystemShellLauncher::startsExecutableDetached()
{
#ifdef Q_OS_WIN
    // A real Windows program in a throw-away install folder, started through ShellExecuteW.
    QTemporaryDir install;
    QVERIFY(QDir().mkpath(install.path() + "/OrlaEntrance"));
    const QString program = install.path() + "/OrlaEntrance/OrlaEntrance.exe";
    QVERIFY(QFile::copy(QStringLiteral(SHELL_RECORDER), program));
    const QString record = install.path() + "/OrlaEntrance/record.txt";

    struct Case {
        QString parameters;
        QString workingDirectory;
    };
    const QString elsewhere = QDir::toNativeSeparators(install.path());
    for (const Case &run : {Case{"", QString()}, Case{"--card \"a b\"", elsewhere}}) {
        QFile::remove(record);
        SystemShellLauncher launcher;
        const QString file = QDir::toNativeSeparators(program);
        launcher.execute("open", file, run.parameters, run.workingDirectory,
                         ShellLauncher::ShowNormal);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 20000);
        QFile result(record);
        QVERIFY(result.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(result.readAll()).split('\n');
        QCOMPARE(lines.size(), 4);
        // The shell quotes the program and appends the parameters, if any, after a space.
        QString commandLine = lines.at(0).trimmed();
        QString expected = run.parameters.isEmpty() ? QString() : " " + run.parameters;
        QVERIFY2(commandLine == "\"" + file + "\"" + expected || commandLine == file + expected,
                 qPrintable(commandLine));
        // No working directory: the program inherits ours.
        const QString directory =
            run.workingDirectory.isNull() ? QDir::currentPath() : run.workingDirectory;
        QCOMPARE(QDir::cleanPath(QDir::fromNativeSeparators(lines.at(1))).toLower(),
                 QDir::cleanPath(QDir::fromNativeSeparators(directory)).toLower());
        QCOMPARE(lines.at(2), QStringLiteral("1"));
    }
#else
    // A stand-in client in a throw-away install folder that records that it ran.
    QTemporaryDir install;
    QVERIFY(QDir().mkpath(install.path() + "/OrlaEntrance"));
    const QString script = install.path() + "/OrlaEntrance/OrlaEntrance.exe";
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho \"ran:$#\" > \"$(dirname \"$0\")/marker\"\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    SystemShellLauncher launcher;
    launcher.execute("open", install.path() + "\\OrlaEntrance\\OrlaEntrance.exe", "", QString(),
                     ShellLauncher::ShowNormal);
    const QString marker = install.path() + "/OrlaEntrance/marker";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker) && QFileInfo(marker).size() > 0, 10000);
    QFile result(marker);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), QByteArray("ran:0\n"));
#endif
}

QTEST_GUILESS_MAIN(TestSystemShellLauncher)
#include "TestSystemShellLauncher.moc"
