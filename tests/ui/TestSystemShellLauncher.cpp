#include "SystemShellLauncher.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSystemShellLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mapsWindowsSeparators();
    void acceptsOnlyAbsoluteLocalPaths_data();
    void acceptsOnlyAbsoluteLocalPaths();
    void acceptsOnlyExistingDirectories_data();
    void acceptsOnlyExistingDirectories();
    void refusesRootsThatExist();
    void startsExecutableDetached();
    void reportsFailedStart();

private:
    QTemporaryDir root;
};

void TestSystemShellLauncher::mapsWindowsSeparators()
{
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa/OrlaEntrance/OrlaEntrance.exe"));
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa/\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa//OrlaEntrance/OrlaEntrance.exe"));
}

void TestSystemShellLauncher::initTestCase()
{
    // A throw-away install root: a folder, a file beside it and a link to the root.
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(root.path() + "/Apps"));
    QFile file(root.path() + "/file.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
#ifndef Q_OS_WIN
    QVERIFY(QFile::link("/", root.path() + "/rootlink"));
    QVERIFY(QFile::link(root.path() + "/Apps", root.path() + "/appslink"));
#endif
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
    QTest::newRow("drive-relative") << "D:Apps\\" << false << false;
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

    // Any user may create folders in the root of a drive (and of the POSIX tree, as root).
    QTest::newRow("drive root") << "D:\\" << false << false;
    QTest::newRow("drive letter value C:") << "C:\\" << false << false;
    QTest::newRow("drive root value C:\\") << "C:\\\\" << false << false;
    QTest::newRow("drive root value C:/") << "C:/\\" << false << false;
    QTest::newRow("drive root, repeated separators") << "C:\\/\\\\" << false << false;
    QTest::newRow("posix root") << "/" << false << false;

    // "." and ".." are refused wherever they stand, also where they would end below the root.
    QTest::newRow("c:\\..") << "c:\\..\\" << false << false;
    QTest::newRow("C:\\..\\") << "C:\\..\\\\" << false << false;
    QTest::newRow("C:\\a\\..\\") << "C:\\a\\..\\\\" << false << false;
    QTest::newRow("drive, up and down") << "C:\\Lessa\\..\\Apps\\" << false << false;
    QTest::newRow("drive, dot") << "C:\\Lessa\\.\\Apps\\" << false << false;
    QTest::newRow("drive, trailing dot") << "C:\\Lessa\\.\\" << false << false;
    QTest::newRow("drive, slashes and dots") << "C:/Lessa/../Apps\\" << false << false;
    QTest::newRow("posix, up") << "/opt/lessa/..\\" << false << false;
    QTest::newRow("posix, up written with backslashes") << "/opt\\..\\lessa\\" << false << false;
    QTest::newRow("posix, dot") << "/opt/./lessa\\" << false << false;
    QTest::newRow("posix, up from the root") << "/..\\" << false << false;
    QTest::newRow("names beginning with dots") << "/opt/.lessa/..x\\" << false << true;
    QTest::newRow("drive, names beginning with dots") << "C:\\.lessa\\..x\\" << true << false;
    // Windows drops trailing dots and spaces: these name the root or another folder.
    QTest::newRow("drive root with a space") << "C:\\ \\" << false << false;
    QTest::newRow("drive root with dots") << "C:\\...\\" << false << false;
    QTest::newRow("name ending in a dot and a space") << "C:\\x. \\" << false << false;
    QTest::newRow("name ending in dots") << "C:\\Lessa\\x..\\" << false << false;
    QTest::newRow("posix names ending in dots and spaces") << "/opt/x. /y..\\" << false << true;

    // Windows reads "/" as a separator: these are absolute paths there.
    QTest::newRow("drive, slash") << "D:/Apps\\" << true << false;
    QTest::newRow("drive, slashes") << "C:/Program Files/Lessa\\" << true << false;
    QTest::newRow("drive, mixed separators") << "C:\\Program Files/Lessa/\\" << true << false;
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

void TestSystemShellLauncher::acceptsOnlyExistingDirectories_data()
{
    // Paths below the throw-away root, written with backslashes as a registry value is (the
    // main window's backslash included); "slashes" spells the root with "/" instead.
    QTest::addColumn<QString>("below");
    QTest::addColumn<bool>("slashes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("existing directory") << "\\Apps\\" << false << true;
    QTest::newRow("existing directory, trailing separator") << "\\Apps\\\\" << false << true;
    QTest::newRow("existing directory, slashes") << "/Apps\\" << true << true;
    QTest::newRow("the root itself") << "\\" << false << true;
    QTest::newRow("missing directory") << "\\Missing\\" << false << false;
    QTest::newRow("missing directory, slashes") << "/Missing\\" << true << false;
    QTest::newRow("a file") << "\\file.txt\\" << false << false;
    QTest::newRow("up and down to an existing directory") << "\\Apps\\..\\Apps\\" << false << false;
    QTest::newRow("dot inside an existing directory") << "\\Apps\\.\\" << false << false;
#ifndef Q_OS_WIN
    QTest::newRow("link to a directory") << "\\appslink\\" << false << true;
    QTest::newRow("link to the root") << "\\rootlink\\" << false << false;
#endif
}

void TestSystemShellLauncher::acceptsOnlyExistingDirectories()
{
    QFETCH(QString, below);
    QFETCH(bool, slashes);
    QFETCH(bool, accepted);
    const QString base = slashes ? root.path() : QDir::toNativeSeparators(root.path());
    QCOMPARE(SystemShellLauncher::isInstallDirectory(base + below), accepted);
}

void TestSystemShellLauncher::refusesRootsThatExist()
{
    // Syntax alone refuses these; the existence check must not bring them back.
#ifdef Q_OS_WIN
    const QString drive = QDir::toNativeSeparators(root.path()).left(2);
    for (const QString &value : QStringList{drive, drive + "\\", drive + "/", drive + "\\..\\"})
        QVERIFY2(!SystemShellLauncher::isInstallDirectory(value + "\\"), qPrintable(value));
#else
    for (const QString &value : QStringList{"/", "/.", "/..", "/tmp/.."})
        QVERIFY2(!SystemShellLauncher::isInstallDirectory(value + "\\"), qPrintable(value));
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
        bool slashes;
    };
    const QString elsewhere = QDir::toNativeSeparators(install.path());
    for (const Case &run : {Case{"", QString(), false}, Case{"--card \"a b\"", elsewhere, false},
                            Case{"", QString(), true}}) {
        QFile::remove(record);
        SystemShellLauncher launcher;
        const QString file = QDir::toNativeSeparators(program);
        // A folder spelt with slashes reaches the shell with backslashes.
        const QString asked = run.slashes ? QDir::fromNativeSeparators(file) : file;
        QVERIFY(launcher.execute("open", asked, run.parameters, run.workingDirectory,
                                 ShellLauncher::ShowNormal));
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
    QVERIFY(launcher.execute("open", install.path() + "\\OrlaEntrance\\OrlaEntrance.exe", "",
                             QString(), ShellLauncher::ShowNormal));
    const QString marker = install.path() + "/OrlaEntrance/marker";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker) && QFileInfo(marker).size() > 0, 10000);
    QFile result(marker);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), QByteArray("ran:0\n"));
#endif
}

void TestSystemShellLauncher::reportsFailedStart()
{
    QTemporaryDir install;
    QVERIFY(QDir().mkpath(install.path() + "/OrlaEntrance"));
    SystemShellLauncher launcher;
    const QString missing =
        QDir::toNativeSeparators(install.path()) + "\\OrlaEntrance\\OrlaEntrance.exe";
    QVERIFY(!launcher.execute("open", missing, "", QString(), ShellLauncher::ShowNormal));
#ifndef Q_OS_WIN
    // An executable file whose interpreter is missing: the detached start fails.
    QFile file(install.path() + "/OrlaEntrance/OrlaEntrance.exe");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/nonexistent/interpreter\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(!launcher.execute("open", missing, "", QString(), ShellLauncher::ShowNormal));
#endif
}

QTEST_GUILESS_MAIN(TestSystemShellLauncher)
#include "TestSystemShellLauncher.moc"
