#include "SystemShellLauncher.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSystemShellLauncher : public QObject
{
    Q_OBJECT

private slots:
    void mapsWindowsSeparators();
    void startsExecutableDetached();
};

void TestSystemShellLauncher::mapsWindowsSeparators()
{
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa/OrlaEntrance/OrlaEntrance.exe"));
    QCOMPARE(SystemShellLauncher::toLocalPath("/opt/lessa/\\OrlaEntrance\\OrlaEntrance.exe"),
             QStringLiteral("/opt/lessa//OrlaEntrance/OrlaEntrance.exe"));
}

void TestSystemShellLauncher::startsExecutableDetached()
{
#ifdef Q_OS_WIN
    QSKIP("starts programs through the Windows shell");
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
