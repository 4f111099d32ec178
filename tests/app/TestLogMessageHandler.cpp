#include "LogMessageHandler.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{
QDateTime fixedTime;

QDateTime fixedClock()
{
    return fixedTime;
}

QDateTime warningClock()
{
    // Raised while the handler holds its lock: must neither deadlock nor recurse.
    qWarning("raised inside the handler");
    return fixedTime;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the settings-read probe writes over the settings file, once.
QString racingSettingsFile;
QByteArray racingContent;

void saveWhileTheHandlerReads()
{
    if (racingContent.isEmpty())
        return;
    QFile file(racingSettingsFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(racingContent);
    racingContent.clear();
}

// Lines a thread writes in the stress tests. Every line is an open, a write and a close; under
// Wine each of those is a round trip to the Wine server, a hundred times dearer.
#ifdef Q_OS_WIN
constexpr int stressScale = 20;
#else
constexpr int stressScale = 1;
#endif

void logWithoutContext(QtMsgType type, const char *text)
{
    const QMessageLogContext noContext;
    logMessageHandler(type, noContext, QString::fromUtf8(text));
}
} // namespace

class TestLogMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formatsLineExactly();
    void formatsLevelsAndContext();
    void keepsPercentSequencesInText();
    void writesTextInTheLocaleEncoding();
    void startsNewFileEachMinute();
    void appendsToExistingFile();
    void createsConfiguredDirectoryWithParents();
    void treatsAnEmptyOrListValueAsNoPath();
    void followsSettingChangeAtNextMessage();
    void followsSettingsFileRewrittenInPlace();
    void followsAnEditOfTheSameSizeAndTime();
    void seesASaveThatRacesWithTheRead();
    void ignoresTheFallbackSettingsFiles();
    void fallsBackToWorkingDirectoryWhenLogIsAFile();
    void losesLineQuietlyWhenNothingIsWritable();
    void neverWritesThroughAPlantedLinkOrFifo();
    void reentryFromInsideTheHandlerDoesNotDeadlock();
    void keepsLinesWholeAcrossThreads();
    void keepsLinesWholeWhileTheDirectoryIsRemoved();
    void keepsTimeOrderAcrossThreads();
    void keepsEveryLineOfTwoProcessesAppendingAtOnce();
    void writesFatalLineBeforeAbort();
    void writesLinesWithoutTheApplicationAndAtExit();

private:
    static void logFromThreads(int threadCount, int perThread);
    QString logFile(const QString &name) const { return work->path() + "/log/" + name; }
    void setConfiguredLogPath(const QString &path);
    void startProbe(QProcess &probe, const QString &program, const QStringList &arguments = {});
    // Unique to this test's run, to tell its lines from any others in a shared place.
    QString marker() const { return QFileInfo(work->path()).fileName(); }

    QTemporaryDir settingsHome;
    QScopedPointer<QTemporaryDir> work;
    QString originalDirectory;
};

void TestLogMessageHandler::initTestCase()
{
    QVERIFY(settingsHome.isValid());
#ifdef Q_OS_WIN
    // Without an organisation name Qt's registry store has no key at all, so Log/Path can
    // never be set (the program's case: its log always goes below the working directory).
    // The tests of a configured path need somewhere to set it.
    QCoreApplication::setOrganizationName(QStringLiteral("Lessa tests"));
#endif
    // The handler's default settings object resolves below this folder, not the real home.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsHome.path());
    originalDirectory = QDir::currentPath();
}

void TestLogMessageHandler::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
    QVERIFY(QDir::setCurrent(work->path()));
    setConfiguredLogPath(QString());
    fixedTime = QDateTime(QDate(2026, 8, 30), QTime(9, 5, 3, 7));
    setLogClock(fixedClock);
}

void TestLogMessageHandler::cleanup()
{
    setLogClock(nullptr);
    setLogSettingsReadProbe(nullptr);
    setConfiguredLogPath(QString());
    QDir::setCurrent(originalDirectory);
}

void TestLogMessageHandler::setConfiguredLogPath(const QString &path)
{
    QSettings settings;
    if (path.isEmpty())
        settings.remove(QStringLiteral("Log/Path"));
    else
        settings.setValue(QStringLiteral("Log/Path"), path);
    settings.sync();
}

void TestLogMessageHandler::startProbe(QProcess &probe, const QString &program,
                                       const QStringList &arguments)
{
    probe.setWorkingDirectory(work->path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settingsHome.path());
    probe.setProcessEnvironment(environment);
    probe.start(program, arguments);
}

void TestLogMessageHandler::formatsLineExactly()
{
    logWithoutContext(QtDebugMsg, "hello");
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: hello ( 0)\r\n"));
}

void TestLogMessageHandler::formatsLevelsAndContext()
{
    logWithoutContext(QtInfoMsg, "info");
    logWithoutContext(QtWarningMsg, "warn");
    logWithoutContext(QtCriticalMsg, "crit");
    const QMessageLogContext located("src/widget.cpp", 42, "void f()", "default");
    logMessageHandler(QtDebugMsg, located, QStringLiteral("located"));
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007  info ( 0)\r\n"
                        "09:05:03 007 Warning: warn ( 0)\r\n"
                        "09:05:03 007 Critical: crit ( 0)\r\n"
                        "09:05:03 007 Debug: located (src/widget.cpp 42)\r\n"));
}

void TestLogMessageHandler::keepsPercentSequencesInText()
{
    logWithoutContext(QtDebugMsg, "GET /a%20b?x=%1%2 %3");
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: GET /a%20b?x=%1%2 %3 ( 0)\r\n"));
}

void TestLogMessageHandler::writesTextInTheLocaleEncoding()
{
    logWithoutContext(QtDebugMsg, "中文");
#ifdef Q_OS_WIN
    // The ANSI code page: GBK on a Chinese Windows (Wine under a zh_CN locale).
    if (GetACP() != 936)
        QSKIP("needs the Chinese ANSI code page 936");
    const QByteArray text("\xd6\xd0\xce\xc4");
#else
    if (QTextCodec::codecForLocale()->name() != "UTF-8")
        QSKIP("needs a UTF-8 locale");
    const QByteArray text("\xe4\xb8\xad\xe6\x96\x87");
#endif
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")), "09:05:03 007 Debug: " + text + " ( 0)\r\n");
}

void TestLogMessageHandler::startsNewFileEachMinute()
{
    fixedTime = QDateTime(QDate(2026, 8, 30), QTime(14, 18, 59, 999));
    logWithoutContext(QtDebugMsg, "before");
    fixedTime = QDateTime(QDate(2026, 8, 30), QTime(14, 19, 0, 0));
    logWithoutContext(QtDebugMsg, "after");
    QCOMPARE(readFile(logFile("log_08-30_1418.txt")),
             QByteArray("14:18:59 999 Debug: before ( 0)\r\n"));
    QCOMPARE(readFile(logFile("log_08-30_1419.txt")),
             QByteArray("14:19:00 000 Debug: after ( 0)\r\n"));
}

void TestLogMessageHandler::appendsToExistingFile()
{
    QDir().mkpath(work->path() + "/log");
    QFile existing(logFile("log_08-30_0905.txt"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("earlier run\r\n");
    existing.close();
    logWithoutContext(QtDebugMsg, "hello");
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("earlier run\r\n09:05:03 007 Debug: hello ( 0)\r\n"));
}

void TestLogMessageHandler::createsConfiguredDirectoryWithParents()
{
    const QString nested = work->path() + "/deep/er/logs";
    setConfiguredLogPath(nested);
    logWithoutContext(QtDebugMsg, "nested");
    QCOMPARE(readFile(nested + "/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: nested ( 0)\r\n"));
    QVERIFY(!QFile::exists(work->path() + "/log"));
}

void TestLogMessageHandler::treatsAnEmptyOrListValueAsNoPath()
{
    // "Path=" once named the filesystem root: the line went to /log_08-30_0905.txt.
    const QString rootFile = QStringLiteral("/log_08-30_0905.txt");
    const QString listed = work->path() + "/a," + work->path() + "/b";
#ifdef Q_OS_WIN
    QSettings settings;
    settings.setValue(QStringLiteral("Log/Path"), QString(""));
    settings.sync();
    logWithoutContext(QtDebugMsg, qPrintable("empty " + marker()));
    settings.setValue(QStringLiteral("Log/Path"), listed.split(QLatin1Char(',')));
    settings.sync();
    logWithoutContext(QtDebugMsg, qPrintable("list " + marker()));
#else
    // As someone editing the file would leave it; QSettings reads the comma as a list.
    const QString settingsFile = QSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile).path()));
    const auto save = [&settingsFile](const QByteArray &content) {
        QFile file(settingsFile);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size();
    };
    QVERIFY(save("[Log]\nPath=\n"));
    logWithoutContext(QtDebugMsg, qPrintable("empty " + marker()));
    QVERIFY(save("[Log]\nPath=" + QFile::encodeName(listed) + "\n"));
    QCOMPARE(QSettings().value(QStringLiteral("Log/Path")).type(), QVariant::StringList);
    logWithoutContext(QtDebugMsg, qPrintable("list " + marker()));
#endif
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             "09:05:03 007 Debug: empty " + marker().toLatin1() + " ( 0)\r\n" +
                 "09:05:03 007 Debug: list " + marker().toLatin1() + " ( 0)\r\n");
    QVERIFY(!readFile(rootFile).contains(marker().toLatin1()));
    QVERIFY(!QFile::exists(work->path() + "/a,"));
}

void TestLogMessageHandler::followsSettingChangeAtNextMessage()
{
    logWithoutContext(QtDebugMsg, "first");
    QVERIFY(QFile::exists(logFile("log_08-30_0905.txt")));

    setConfiguredLogPath(work->path() + "/elsewhere");
    logWithoutContext(QtDebugMsg, "second");
    QCOMPARE(readFile(work->path() + "/elsewhere/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: second ( 0)\r\n"));

    // A removed directory comes back at the next message.
    QVERIFY(QDir(work->path() + "/elsewhere").removeRecursively());
    logWithoutContext(QtDebugMsg, "third");
    QCOMPARE(readFile(work->path() + "/elsewhere/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: third ( 0)\r\n"));
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: first ( 0)\r\n"));
}

void TestLogMessageHandler::followsSettingsFileRewrittenInPlace()
{
#ifdef Q_OS_WIN
    QSKIP("the settings live in the registry on Windows, not in a file");
#endif
    // Another program edits the file where it stands, keeping its inode. (QSettings itself
    // tells versions apart by size and millisecond time stamp, so the sizes differ.)
    const QString settingsFile = QSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile).path()));
    const auto rewrite = [&settingsFile](const QByteArray &content) {
        QFile file(settingsFile);
        return file.open(QIODevice::ReadWrite) && file.resize(0) && file.write(content) > 0;
    };
    QVERIFY(rewrite("[Log]\nPath=" + QFile::encodeName(work->path()) + "/aaaa\n"));
    logWithoutContext(QtDebugMsg, "to a");
    QVERIFY(rewrite("[Log]\nPath=" + QFile::encodeName(work->path()) + "/bbbbbb\n"));
    logWithoutContext(QtDebugMsg, "to b");
    QVERIFY(QFile::remove(settingsFile));
    logWithoutContext(QtDebugMsg, "to the default");

    QCOMPARE(readFile(work->path() + "/aaaa/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: to a ( 0)\r\n"));
    QCOMPARE(readFile(work->path() + "/bbbbbb/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: to b ( 0)\r\n"));
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: to the default ( 0)\r\n"));
}

void TestLogMessageHandler::followsAnEditOfTheSameSizeAndTime()
{
#ifdef Q_OS_WIN
    QSKIP("the settings live in the registry on Windows, not in a file");
#endif
    // QSettings keeps what it read and skips a file whose size and millisecond modification
    // time are unchanged; the handler must not.
    const QString settingsFile = QSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile).path()));
    QFile file(settingsFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write("[Log]\nPath=" + QFile::encodeName(work->path()) + "/aaaa\n") > 0);
    file.close();
    logWithoutContext(QtDebugMsg, "to a");

    const QDateTime modified = QFileInfo(settingsFile).lastModified();
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.write("[Log]\nPath=" + QFile::encodeName(work->path()) + "/bbbb\n") > 0);
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(QFileInfo(settingsFile).lastModified(), modified);
    logWithoutContext(QtDebugMsg, "to b");

    QCOMPARE(readFile(work->path() + "/aaaa/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: to a ( 0)\r\n"));
    QCOMPARE(readFile(work->path() + "/bbbb/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: to b ( 0)\r\n"));
}

void TestLogMessageHandler::seesASaveThatRacesWithTheRead()
{
#ifdef Q_OS_WIN
    QSKIP("the settings live in the registry on Windows, not in a file");
#endif
    setConfiguredLogPath(work->path() + "/a");
    logWithoutContext(QtDebugMsg, "one");
    setConfiguredLogPath(work->path() + "/bb");

    // Another save lands just after the handler has read "bb": the next message must see it.
    racingSettingsFile = QSettings().fileName();
    racingContent = "[Log]\nPath=" + QFile::encodeName(work->path()) + "/cccc\n";
    setLogSettingsReadProbe(saveWhileTheHandlerReads);
    logWithoutContext(QtDebugMsg, "two");
    QVERIFY(racingContent.isEmpty());
    logWithoutContext(QtDebugMsg, "three");

    QCOMPARE(readFile(work->path() + "/a/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: one ( 0)\r\n"));
    QCOMPARE(readFile(work->path() + "/bb/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: two ( 0)\r\n"));
    QCOMPARE(readFile(work->path() + "/cccc/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: three ( 0)\r\n"));
}

void TestLogMessageHandler::ignoresTheFallbackSettingsFiles()
{
    // The organisation-wide store (a file, or a registry key on Windows) is one of QSettings'
    // fallbacks for the default object.
    QSettings fallback(QSettings::UserScope, QCoreApplication::organizationName());
    QVERIFY(fallback.fileName() != QSettings().fileName());
    fallback.setValue(QStringLiteral("Log/Path"), work->path() + "/shared");
    fallback.sync();
    logWithoutContext(QtDebugMsg, "own settings only");
    fallback.remove(QStringLiteral("Log/Path"));
    fallback.sync();

    QVERIFY(!QFile::exists(work->path() + "/shared"));
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: own settings only ( 0)\r\n"));
}

void TestLogMessageHandler::fallsBackToWorkingDirectoryWhenLogIsAFile()
{
    QFile plain(work->path() + "/log");
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("not a directory");
    plain.close();

    logWithoutContext(QtDebugMsg, "fallback");
    QCOMPARE(readFile(work->path() + "/log_08-30_0905.txt"),
             QByteArray("09:05:03 007 Debug: fallback ( 0)\r\n"));
    QCOMPARE(readFile(work->path() + "/log"), QByteArray("not a directory"));
}

void TestLogMessageHandler::losesLineQuietlyWhenNothingIsWritable()
{
#ifdef Q_OS_WIN
    QSKIP("Windows cannot remove a process's working directory");
#endif
    // A working directory that has been removed: neither log/ nor a bare file can be made
    // there, even for root.
    const QString doomed = work->path() + "/gone";
    QVERIFY(QDir().mkpath(doomed));
    QVERIFY(QDir::setCurrent(doomed));
    QVERIFY(QDir().rmdir(doomed));

    logWithoutContext(QtWarningMsg, qPrintable("nowhere to go " + marker()));
    logWithoutContext(QtDebugMsg, qPrintable("still nowhere " + marker()));
    QVERIFY(!QFile::exists(doomed));
    // Nor below the filesystem root, where an empty working directory path would point.
    QVERIFY(!readFile("/log/log_08-30_0905.txt").contains(marker().toLatin1()));

    // And the handler still works once there is somewhere to write.
    QVERIFY(QDir::setCurrent(work->path()));
    logWithoutContext(QtDebugMsg, "back");
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")),
             QByteArray("09:05:03 007 Debug: back ( 0)\r\n"));
}

void TestLogMessageHandler::neverWritesThroughAPlantedLinkOrFifo()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes a shortcut on Windows, not a link the system follows");
#else
    // Planted by whoever may write the log directory, one minute's name each.
    QVERIFY(QDir().mkpath(work->path() + "/log"));
    const QString victim = work->path() + "/victim.txt";
    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::WriteOnly));
    victimFile.write("precious\n");
    victimFile.close();
    QVERIFY(QFile::link(victim, logFile("log_08-30_0905.txt")));
    // Followed, a dangling link would create the file it names.
    const QString created = work->path() + "/created.txt";
    QVERIFY(QFile::link(created, logFile("log_08-30_0906.txt")));
    // Opened to write, a FIFO waits for a reader forever.
    QCOMPARE(::mkfifo(QFile::encodeName(logFile("log_08-30_0907.txt")).constData(), 0666), 0);

    // The refused lines must still show: on standard error, here a file.
    const QByteArray errorsName = QFile::encodeName(work->path() + "/stderr.txt");
    std::fflush(stderr);
    const int savedStderr = ::dup(2);
    const int errorsFd = ::open(errorsName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    QVERIFY(savedStderr >= 0 && errorsFd >= 0);
    ::dup2(errorsFd, 2);
    ::close(errorsFd);
    const auto logAt = [](int minute, const char *text) {
        fixedTime = QDateTime(QDate(2026, 8, 30), QTime(9, minute, 3, 7));
        logWithoutContext(QtDebugMsg, text);
    };
    logAt(5, "one");
    logAt(5, "two");
    logAt(6, "three");
    logAt(7, "four");
    logAt(8, "later");
    std::fflush(stderr);
    ::dup2(savedStderr, 2);
    ::close(savedStderr);

    QCOMPARE(readFile(victim), QByteArray("precious\n"));
    QVERIFY(QFileInfo(logFile("log_08-30_0905.txt")).isSymLink());
    QVERIFY(!QFile::exists(created));
    QCOMPARE(readFile(logFile("log_08-30_0908.txt")),
             QByteArray("09:08:03 007 Debug: later ( 0)\r\n"));
    // Each refused line once, and one diagnostic naming each refused file.
    const QByteArray errors = readFile(QFile::decodeName(errorsName));
    for (const char *line :
         {"09:05:03 007 Debug: one ( 0)\r\n", "09:05:03 007 Debug: two ( 0)\r\n",
          "09:06:03 007 Debug: three ( 0)\r\n", "09:07:03 007 Debug: four ( 0)\r\n"})
        QVERIFY2(errors.count(line) == 1, errors.constData());
    for (const char *name : {"log_08-30_0905.txt", "log_08-30_0906.txt", "log_08-30_0907.txt"})
        QVERIFY2(errors.count(name) == 1, errors.constData());
    QVERIFY(!errors.contains("later"));
#endif
}

void TestLogMessageHandler::reentryFromInsideTheHandlerDoesNotDeadlock()
{
    const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
    setLogClock(warningClock);
    qDebug("outer");
    setLogClock(fixedClock);
    qInstallMessageHandler(previous);

    // Only the outer line: the inner warning went to stderr, not back into the file.
    QCOMPARE(readFile(logFile("log_08-30_0905.txt")).count("\r\n"), 1);
    QVERIFY(readFile(logFile("log_08-30_0905.txt")).contains("Debug: outer"));
}

void TestLogMessageHandler::keepsLinesWholeAcrossThreads()
{
    constexpr int threadCount = 8;
    constexpr int perThread = 5000 / stressScale;
    logFromThreads(threadCount, perThread);

    const QList<QByteArray> lines = readFile(logFile("log_08-30_0905.txt")).split('\n');
    QCOMPARE(lines.size(), threadCount * perThread + 1);
    QVERIFY(lines.last().isEmpty());
    const QRegularExpression whole(
        QStringLiteral("^09:05:03 007 Debug: thread (\\d) message (\\d+) x{40} \\( 0\\)\r$"));
    QVector<int> next(threadCount, 0);
    for (int i = 0; i < lines.size() - 1; ++i) {
        const QRegularExpressionMatch match = whole.match(QString::fromLatin1(lines.at(i)));
        QVERIFY2(match.hasMatch(), lines.at(i).constData());
        const int thread = match.captured(1).toInt();
        // Each thread's lines arrive in its own order.
        QCOMPARE(match.captured(2).toInt(), next[thread]++);
    }
}

void TestLogMessageHandler::logFromThreads(int threadCount, int perThread)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t, perThread] {
            const QString padding(40, QLatin1Char('x'));
            for (int i = 0; i < perThread; ++i)
                logWithoutContext(
                    QtDebugMsg,
                    qPrintable(QStringLiteral("thread %1 message %2 ").arg(t).arg(i) + padding));
        });
    }
    for (std::thread &thread : threads)
        thread.join();
}

void TestLogMessageHandler::keepsLinesWholeWhileTheDirectoryIsRemoved()
{
    constexpr int threadCount = 8;
    constexpr int perThread = 20000 / stressScale;
    std::atomic<bool> writing{true};
    std::atomic<int> removals{0};
    const QString directory = work->path() + "/log";
    // Lines written to a file whose directory is then removed go with it; the rest must be
    // whole, in per-thread order, in the log directory or the working-directory fallback.
    std::thread remover([&] {
        while (writing.load() && removals.load() < 100) {
            if (QDir(directory).exists() && QDir(directory).removeRecursively())
                ++removals;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    logFromThreads(threadCount, perThread);
    writing = false;
    remover.join();
    QVERIFY(removals.load() > 0);

    const QRegularExpression whole(
        QStringLiteral("^09:05:03 007 Debug: thread (\\d) message (\\d+) x{40} \\( 0\\)\r$"));
    int kept = 0;
    for (const QString &path :
         {logFile("log_08-30_0905.txt"), work->path() + "/log_08-30_0905.txt"}) {
        const QByteArray content = readFile(path);
        QVERIFY(content.isEmpty() || content.endsWith("\r\n"));
        QList<QByteArray> lines = content.split('\n');
        lines.removeLast();
        QVector<int> last(threadCount, -1);
        for (const QByteArray &line : lines) {
            const QRegularExpressionMatch match = whole.match(QString::fromLatin1(line));
            QVERIFY2(match.hasMatch(), line.constData());
            const int thread = match.captured(1).toInt();
            const int index = match.captured(2).toInt();
            QVERIFY(index > last[thread]);
            last[thread] = index;
        }
        kept += lines.size();
    }
    QVERIFY(kept <= threadCount * perThread);

    // Once the removals stop, the next line re-creates the directory and lands in it.
    QDir(directory).removeRecursively();
    logWithoutContext(QtDebugMsg, "after the storm");
    QVERIFY(readFile(logFile("log_08-30_0905.txt")).endsWith("Debug: after the storm ( 0)\r\n"));
}

void TestLogMessageHandler::keepsTimeOrderAcrossThreads()
{
    // The real clock: a line stamped earlier must never land after one stamped later.
    setLogClock(nullptr);
    constexpr int perThread = 3000 / stressScale;
    logFromThreads(8, perThread);

    const QStringList files = QDir(work->path() + "/log").entryList({"log_*.txt"}, QDir::Files);
    QVERIFY(!files.isEmpty());
    int lineCount = 0;
    for (const QString &name : files) {
        QList<QByteArray> lines = readFile(work->path() + "/log/" + name).split('\n');
        lines.removeLast();
        QByteArray previous;
        for (const QByteArray &line : lines) {
            // "hh:mm:ss zzz" sorts as text; each file holds one minute, so no day wraps.
            const QByteArray time = line.left(12);
            QVERIFY2(time >= previous, (previous + " then " + time).constData());
            previous = time;
        }
        lineCount += lines.size();
    }
    QCOMPARE(lineCount, 8 * perThread);
}

void TestLogMessageHandler::keepsEveryLineOfTwoProcessesAppendingAtOnce()
{
    // Both write into the same minute's file; an append that lands where the file ended when it
    // was opened overwrites the other process's lines. This guards Windows (POSIX appends with
    // O_APPEND): there, as many lines as make the overwrite show in every run under Wine.
    constexpr int perProcess = stressScale > 1 ? 5000 : 20000;
    QProcess first, second;
    startProbe(first, QStringLiteral(APPEND_LOG_PROBE), {"a", QString::number(perProcess)});
    startProbe(second, QStringLiteral(APPEND_LOG_PROBE), {"b", QString::number(perProcess)});
    for (QProcess *probe : {&first, &second}) {
        while (!probe->canReadLine())
            QVERIFY2(probe->waitForReadyRead(60000), qPrintable(probe->errorString()));
        QCOMPARE(probe->readLine().trimmed(), QByteArray("ready"));
    }
    // QProcess sends what is written from its event loop or a wait: both must have it before
    // either is waited for.
    for (QProcess *probe : {&first, &second}) {
        probe->write("go\n");
        QVERIFY(probe->waitForBytesWritten(60000));
    }
    for (QProcess *probe : {&first, &second}) {
        QVERIFY(probe->waitForFinished(240000));
        QCOMPARE(probe->exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe->exitCode(), 0);
    }

    QList<QByteArray> lines = readFile(logFile("log_08-30_0905.txt")).split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    const QRegularExpression whole(
        QStringLiteral("^09:05:03 007 Debug: ([ab]) line (\\d+) x{40} \\( 0\\)\r$"));
    QHash<QString, int> next;
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch match = whole.match(QString::fromLatin1(line));
        QVERIFY2(match.hasMatch(), line.constData());
        QCOMPARE(match.captured(2).toInt(), next[match.captured(1)]++);
    }
    QCOMPARE(next.value("a"), perProcess);
    QCOMPARE(next.value("b"), perProcess);
}

void TestLogMessageHandler::writesFatalLineBeforeAbort()
{
    QProcess probe;
    startProbe(probe, QStringLiteral(FATAL_LOG_PROBE));
    QVERIFY(probe.waitForFinished(30000));
    // On Windows Qt ends the process with a fail-fast exception, which counts as a crash too.
    QCOMPARE(probe.exitStatus(), QProcess::CrashExit);

    const QStringList files = QDir(work->path() + "/log").entryList({"log_*.txt"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray content = readFile(work->path() + "/log/" + files.first());
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d{3} Fatal: the end \\( 0\\)\r\n$"))
                 .match(QString::fromLatin1(content))
                 .hasMatch(),
             content.constData());
}

void TestLogMessageHandler::writesLinesWithoutTheApplicationAndAtExit()
{
    // The last line comes from an exit handler that runs after the handler's lock, the
    // application's names and Qt's text codecs have been destroyed.
    QProcess probe;
    startProbe(probe, QStringLiteral(TEARDOWN_LOG_PROBE));
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);

    // The real clock: the lines may fall into two minutes' files.
    QList<QByteArray> texts;
    const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d{3} "));
    for (const QString &name : QDir(work->path() + "/log").entryList({"log_*.txt"}, QDir::Files)) {
        QList<QByteArray> lines = readFile(work->path() + "/log/" + name).split('\n');
        QVERIFY(lines.takeLast().isEmpty());
        for (const QByteArray &line : lines) {
            QVERIFY2(time.match(QString::fromLatin1(line)).hasMatch(), line.constData());
            texts += line.mid(13);
        }
    }
    QCOMPARE(texts.size(), 3);
    QCOMPARE(texts.at(0), QByteArray("Warning: while running ( 0)\r"));
    QCOMPARE(texts.at(1), QByteArray("Warning: after the application ( 0)\r"));
    QVERIFY2(texts.at(2).startsWith("Warning: at exit ") && texts.at(2).endsWith(" ( 0)\r"),
             texts.at(2).constData());
    // Still in the locale's encoding, where that encoding has the characters.
    const QByteArray chinese = QString::fromUtf8("中文").toLocal8Bit();
    if (QString::fromLocal8Bit(chinese) == QString::fromUtf8("中文"))
        QCOMPARE(texts.at(2), "Warning: at exit " + chinese + " ( 0)\r");
    QVERIFY(QDir(work->path()).entryList({"log_*.txt"}, QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TestLogMessageHandler)
#include "TestLogMessageHandler.moc"
