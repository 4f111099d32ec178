// Drives the built application as a person would: real X input through xdotool, real
// pixels from screenshots of the X server. Widgets are found from their colours, not from
// anything inside the product.
//
// With LESSA_E2E_WINE (the Wine runner), LESSA_E2E_EXE (vipcard.exe) and LESSA_E2E_CLIENT (a
// Windows program that records how it was started) set, the same tests drive the Windows build
// under Wine: the install path then lives in the prefix's registry and the client is started
// by the Windows shell. With LESSA_E2E_PROBE (stacking_probe.exe) set too, the tests also read
// Win32's own window stacking; with LESSA_E2E_DESKTOP naming a Wine virtual desktop, the program
// runs inside that desktop, one X window in which Wine stacks and draws the windows by Win32's
// rules without an X window manager: windows are then found through the probe, and points,
// pointer input and screenshots are in the desktop window's coordinates (Win32's screen
// coordinates).

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <random>

namespace
{
const QString mainTitle = QStringLiteral("Orla Nova电子课本VIP卡");
const QColor accent(0x47, 0x78, 0xc7);
const QColor windowBackground(0xf7, 0xf7, 0xf7);

// Runs a helper program and returns its output. One that is still running after timeoutMs is
// killed (and told of), never left behind: its output then counts as missing.
QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
               int timeoutMs = 20000)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished && process.state() != QProcess::NotRunning) {
        qWarning("%s %s still running after %d ms: killed", qPrintable(program),
                 qPrintable(arguments.join(' ')), timeoutMs);
        process.kill();
        process.waitForFinished(5000);
    }
    if (exitCode)
        *exitCode =
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return finished ? process.readAllStandardOutput() : QByteArray();
}

// The Windows build under Wine, when the environment names it.
struct WineSetup {
    QString runner, executable, client, probe, desktop;
    bool active() const { return !runner.isEmpty(); }
    bool inDesktop() const { return active() && !desktop.isEmpty(); }
};

const WineSetup &wine()
{
    static const WineSetup setup{
        qEnvironmentVariable("LESSA_E2E_WINE"), qEnvironmentVariable("LESSA_E2E_EXE"),
        qEnvironmentVariable("LESSA_E2E_CLIENT"), qEnvironmentVariable("LESSA_E2E_PROBE"),
        qEnvironmentVariable("LESSA_E2E_DESKTOP")};
    return setup;
}

// A top-level window as Win32 sees it: a line of stacking_probe.
struct Win32Window {
    QString handle, owner, className, title;
    QRect rect;
    bool visible = false, iconic = false, enabled = false, taskbar = false;
    quint32 style = 0;
};

QList<Win32Window> probe(const QStringList &arguments, int *exitCode = nullptr)
{
    QList<Win32Window> windows;
    for (QByteArray line :
         run(wine().runner, QStringList{wine().probe} + arguments, exitCode).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = line.split('\t');
        if (!line.startsWith("0x"))
            continue;
        Win32Window window;
        window.handle = QString::fromLatin1(fields.first());
        for (const QByteArray &field : fields.mid(1)) {
            const int equals = field.indexOf('=');
            const QByteArray key = field.left(equals);
            const QString value = QString::fromUtf8(field.mid(equals + 1));
            const QStringList numbers = value.split(',');
            if (key == "owner")
                window.owner = value;
            else if (key == "class")
                window.className = value;
            else if (key == "title")
                window.title = value;
            else if (key == "rect" && numbers.size() == 4)
                window.rect = QRect(numbers.at(0).toInt(), numbers.at(1).toInt(),
                                    numbers.at(2).toInt(), numbers.at(3).toInt());
            else if (key == "visible")
                window.visible = value == "1";
            else if (key == "iconic")
                window.iconic = value == "1";
            else if (key == "enabled")
                window.enabled = value == "1";
            else if (key == "taskbar")
                window.taskbar = value == "1";
            else if (key == "style")
                window.style = value.toUInt(nullptr, 0);
        }
        windows << window;
    }
    return windows;
}

// The visible top-level windows of the program, topmost first.
QList<Win32Window> win32Order()
{
    return probe({"order", mainTitle});
}

// The X window that shows the program's screen: the root window, or the Wine virtual desktop,
// a top-level X window that exists while a Windows program runs in it; an empty string when
// there is none. Wine 8 titles it "NAME - Wine desktop"; Wine 10 "NAME - Wine Desktop", and
// the desktop named Default plainly "Wine Desktop".
QString screenWindow()
{
    if (!wine().inDesktop())
        return QStringLiteral("root");
    const QString name =
        "^(" + QRegularExpression::escape(wine().desktop) + " - )?Wine [Dd]esktop$";
    return QString::fromLatin1(
        run(QStringLiteral("xdotool"), {"search", "--maxdepth", "1", "--name", name})
            .split('\n')
            .first());
}

// The names of the X server's top-level windows, to tell what was there instead of a window
// that was looked for.
QString topLevelWindows()
{
    QStringList names;
    for (const QByteArray &line :
         run(QStringLiteral("xwininfo"), {"-root", "-children"}).split('\n')) {
        const QByteArray entry = line.trimmed();
        if (entry.startsWith("0x"))
            names << QString::fromUtf8(entry);
    }
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral("; "));
}

QByteArray xdotool(const QStringList &arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

void moveMouse(const QPoint &to)
{
    QStringList arguments{"mousemove"};
    if (wine().inDesktop()) {
        const QString desktop = screenWindow();
        if (desktop.isEmpty()) {
            qWarning("no Wine virtual desktop window to move the pointer in; top-level X "
                     "windows: %s",
                     qPrintable(topLevelWindows()));
            return;
        }
        arguments << "--window" << desktop;
    }
    xdotool(arguments << QString::number(to.x()) << QString::number(to.y()));
}

void clickAt(const QPoint &point)
{
    moveMouse(point);
    xdotool({"click", "1"});
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// Pixels of the accent colour in area: the title buttons' focus rings and the selected guide
// link (the link's focus mark) are drawn in it.
int accentPixels(const QImage &shot, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += near(shot.pixelColor(x, y), accent, 24);
    }
    return count;
}

QColor dimmed(const QColor &c)
{
    const auto d = [](int v) { return qRound(v * 95 / 255.0); };
    return QColor(d(c.red()), d(c.green()), d(c.blue()));
}

// A pixel of the main window under the overlay: blended with black at alpha 160 where a
// compositor blends the overlay in; in a Wine virtual desktop, which draws a layered window
// without its alpha, the overlay's own black (the runs with xcompmgr check the blend).
QColor veiled(const QColor &c)
{
    return wine().inDesktop() ? QColor(Qt::black) : dimmed(c);
}

// Where reg.exe must write for the program under test to read it: a 32-bit program (PE machine
// i386) reads the 32-bit registry view of a 64-bit Windows, where 32-bit installers write.
QStringList registryViewOf(const QString &executable)
{
    QFile file(executable);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
    if (header.size() < 0x40)
        return {};
    const auto pe = qFromLittleEndian<quint32>(header.constData() + 0x3c);
    if (pe > quint32(header.size() - 6))
        return {};
    const auto machine = qFromLittleEndian<quint16>(header.constData() + pe + 4);
    return machine == 0x14c ? QStringList{"/reg:32"} : QStringList{};
}

QString artifactsFolder()
{
    const QString configured = qEnvironmentVariable("LESSA_E2E_ARTIFACTS");
    return configured.isEmpty() ? QStringLiteral(E2E_ARTIFACTS) : configured;
}

// A host path as the Windows program sees it: Wine maps the root to drive Z.
QString windowsPath(const QString &path)
{
    return QStringLiteral("Z:") + QString(path).replace('/', '\\');
}

// Why the last screenshot() gave no image; empty after one that gave an image.
QString screenshotFailure;

// A screenshot of the X window, or a null image with screenshotFailure telling why. import is
// never given an empty window id, with which it would wait for a click choosing the window.
QImage screenshot(const QString &window = screenWindow())
{
    screenshotFailure.clear();
    if (window.isEmpty()) {
        screenshotFailure = QStringLiteral("no X window to take a screenshot of: no Wine virtual "
                                           "desktop window; top-level X windows: ") +
                            topLevelWindows();
        return QImage();
    }
    int exitCode = -1;
    const QByteArray png =
        run(QStringLiteral("import"), {"-window", window, "png:-"}, &exitCode, 15000);
    const QImage image = QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        screenshotFailure = QStringLiteral("import -window %1 gave no image (exit code %2, %3 "
                                           "bytes)")
                                .arg(window)
                                .arg(exitCode)
                                .arg(png.size());
    return image;
}

// Screenshots of the program's screen until one meets the condition or timeoutMs have passed;
// that one, or the last.
template <typename Condition> QImage screenUntil(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    QImage shot = screenshot();
    while (!(!shot.isNull() && condition(shot)) && timer.elapsed() < timeoutMs) {
        QTest::qWait(100);
        shot = screenshot();
    }
    return shot;
}

// Takes a screenshot of the program's screen into a new variable, failing the test when none
// can be taken.
#define TAKE_SCREENSHOT(image)                                                                     \
    const QImage image = screenshot();                                                             \
    QVERIFY2(!image.isNull(), qPrintable(screenshotFailure))

void saveArtifact(const QImage &image, const QString &name)
{
    QDir().mkpath(artifactsFolder());
    image.save(artifactsFolder() + "/" + name + ".png");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &entry : QDir(from).entryInfoList(QDir::Files))
        QFile::copy(entry.filePath(), to + "/" + entry.fileName());
}

// The bounding box of the rows that hold a run of at least minRun pixels of one colour.
QRect solidBlock(const QImage &image, const QRect &area, const QColor &colour, int minRun)
{
    QRect block;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int run = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            run = near(image.pixelColor(x, y), colour, 2) ? run + 1 : 0;
            if (run == minRun)
                block |= QRect(x - minRun + 1, y, minRun, 1);
            else if (run > minRun)
                block |= QRect(x, y, 1, 1);
        }
    }
    return block;
}

struct Geometry {
    QRect rect;
    bool valid = false;
};

Geometry windowGeometry(const QString &window)
{
    if (wine().inDesktop()) {
        const QList<Win32Window> found = probe({"window", window});
        Geometry g;
        g.valid = !found.isEmpty();
        g.rect = g.valid ? found.first().rect : QRect();
        return g;
    }
    const QByteArray shell = xdotool({"getwindowgeometry", "--shell", window});
    QMap<QString, int> values;
    for (const QByteArray &line : shell.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2)
            values.insert(QString::fromLatin1(pair.at(0)), pair.at(1).toInt());
    }
    Geometry g;
    g.valid = values.contains("WIDTH");
    g.rect =
        QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
    return g;
}

// The program's three windows in a Win32 listing: the main window by its title, the overlay
// as the other window of its size, the guide by its size.
struct GuideWindows {
    Win32Window main, overlay, guide;
    explicit GuideWindows(const QList<Win32Window> &order)
    {
        for (const Win32Window &window : order) {
            if (window.rect.size() == QSize(560, 544))
                guide = window;
            else if (window.rect.size() == QSize(936, 760) && window.title == mainTitle)
                main = window;
            else if (window.rect.size() == QSize(936, 760))
                overlay = window;
        }
    }
    bool found() const
    {
        return !main.handle.isEmpty() && !overlay.handle.isEmpty() && !guide.handle.isEmpty();
    }
    // The listing by role, topmost first, e.g. "guide, overlay, main window".
    QString describe(const QList<Win32Window> &order) const
    {
        QStringList roles;
        for (const Win32Window &window : order) {
            if (window.handle == guide.handle)
                roles << QStringLiteral("guide");
            else if (window.handle == overlay.handle)
                roles << QStringLiteral("overlay");
            else if (window.handle == main.handle)
                roles << QStringLiteral("main window");
            else
                roles << window.handle + " " + window.className;
        }
        return roles.join(QStringLiteral(", "));
    }
};

int indexOf(const QList<Win32Window> &order, const Win32Window &window)
{
    for (int i = 0; i < order.size(); ++i) {
        if (order.at(i).handle == window.handle)
            return i;
    }
    return -1;
}

bool isMinimised(const QString &window)
{
    if (wine().inDesktop()) {
        const QList<Win32Window> found = probe({"window", window});
        return found.isEmpty() || found.first().iconic || !found.first().visible;
    }
    const QByteArray state = run("xprop", {"-id", window, "WM_STATE"});
    const QByteArray visible = xdotool({"search", "--onlyvisible", "--name", "."});
    return state.contains("Iconic") || !visible.split('\n').contains(window.toLatin1());
}
} // namespace

// One run of the application in a folder of its own: executable and version.ini in bin/,
// working directory work/ (with images/ unless told otherwise), mainqss/ beside it, a
// settings file naming an install folder whose client script records each start.
class AppSession
{
public:
    struct Options {
        bool images = true;
        bool styleSheet = true;
        QByteArray versionIni; // null: no version.ini
        bool versionIniIsDirectory = false;
        bool logIsPlainFile = false;
        bool accessibilityBus = false; // publish the widgets on the AT-SPI bus
    };

    explicit AppSession(const Options &options) : options(options) {}

    ~AppSession()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        if (!readOnlyMount.isEmpty())
            QProcess::execute("umount", {readOnlyMount});
    }

    QString root() const { return dir.path(); }
    QString work() const { return dir.path() + "/work"; }
    // What the client writes when it runs: a line per start here, its command line, working
    // directory and show command under Wine.
    QString marker() const
    {
        return dir.path() + "/install/OrlaEntrance/" + (wine().active() ? "record.txt" : "ran.txt");
    }
    QString installPath() const
    {
        return wine().active() ? windowsPath(dir.path() + "/install") : dir.path() + "/install";
    }
    QString executable() const
    {
        return dir.path() + (wine().active() ? "/bin/vipcard.exe" : "/bin/vipcard");
    }

    bool prepare()
    {
        if (!dir.isValid())
            return false;
        QDir().mkpath(dir.path() + "/bin");
        QDir().mkpath(work());
        if (!QFile::copy(wine().active() ? wine().executable : QStringLiteral(VIPCARD_BINARY),
                         executable()))
            return false;
        if (options.images)
            copyTree(QStringLiteral(LESSA_SOURCE_DIR) + "/images", work() + "/images");
        if (options.styleSheet)
            copyTree(QStringLiteral(LESSA_SOURCE_DIR) + "/mainqss", dir.path() + "/mainqss");
        if (options.versionIniIsDirectory)
            QDir().mkpath(dir.path() + "/bin/version.ini");
        else if (!options.versionIni.isNull())
            writeFile(dir.path() + "/bin/version.ini", options.versionIni);
        if (options.logIsPlainFile)
            writeFile(work() + "/log", "a plain file");

        const QString client = dir.path() + "/install/OrlaEntrance/OrlaEntrance.exe";
        if (wine().active()) {
            QDir().mkpath(dir.path() + "/install/OrlaEntrance");
            int rc = -1;
            run(wine().runner,
                QStringList{"reg", "add", "HKLM\\Software\\Lessa\\Lessa", "/v", "InstallPath", "/t",
                            "REG_SZ", "/d", installPath(), "/f"} +
                    registryViewOf(wine().executable),
                &rc);
            return rc == 0 && QFile::copy(wine().client, client);
        }
        writeFile(client, "#!/bin/sh\necho started >> \"$(dirname \"$0\")/ran.txt\"\n");
        QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeFile(dir.path() + "/xdg/Lessa/Lessa.conf",
                  "[General]\nInstallPath=" + installPath().toUtf8() + "\n");
        return true;
    }

    // Makes the working directory read-only (a read-only bind mount, which holds for root too).
    bool makeWorkReadOnly()
    {
        if (QProcess::execute("mount", {"--bind", work(), work()}) != 0)
            return false;
        readOnlyMount = work();
        if (QProcess::execute("mount", {"-o", "remount,ro,bind", work()}) != 0)
            return false;
        QFile probe(work() + "/probe");
        return !probe.open(QIODevice::WriteOnly);
    }

    bool start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("XDG_CONFIG_DIRS", dir.path() + "/xdg");
        environment.insert("XDG_CONFIG_HOME", dir.path() + "/home-config");
        if (options.accessibilityBus)
            environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(work());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (wine().active())
            process.start(wine().runner, {executable()});
        else
            process.start(executable(), QStringList{});
        if (!process.waitForStarted(10000))
            return false;
        // By the process first (a window of the main window's size), then by the title: the
        // title search is a regular expression that some locales cannot match. In a virtual
        // desktop, Win32 finds it by its title.
        for (int i = 0; i < 200 && mainWindow.isEmpty() && wine().inDesktop(); ++i) {
            for (const Win32Window &window : win32Order()) {
                if (window.title == mainTitle && window.rect.size() == QSize(936, 760))
                    mainWindow = window.handle;
            }
            if (mainWindow.isEmpty())
                QTest::qWait(50);
        }
        for (int i = 0; i < 200 && mainWindow.isEmpty() && !wine().inDesktop(); ++i) {
            for (const QString &window : visibleWindows()) {
                if (windowGeometry(window).rect.size() == QSize(936, 760)) {
                    mainWindow = window;
                    break;
                }
            }
            if (mainWindow.isEmpty()) {
                const QList<QByteArray> found =
                    xdotool({"search", "--all", "--onlyvisible", "--pid",
                             QString::number(process.processId()), "--name", mainTitle})
                        .split('\n');
                mainWindow = QString::fromLatin1(found.first());
            }
            if (mainWindow.isEmpty())
                QTest::qWait(50);
        }
        if (wine().active() && !wine().inDesktop() && !mainWindow.isEmpty()) {
            const QByteArray pid = run("xprop", {"-id", mainWindow, "_NET_WM_PID"});
            windowPid = pid.mid(pid.lastIndexOf('=') + 1).trimmed().toLongLong();
        }
        if (mainWindow.isEmpty())
            return false;
        // In a virtual desktop, the X window that shows it (the screenshots and the pointer's
        // coordinates are its own).
        if (wine().inDesktop() && screenWindow().isEmpty()) {
            qWarning("the program runs, but no X window of the Wine virtual desktop \"%s\" was "
                     "found; top-level X windows: %s",
                     qPrintable(wine().desktop), qPrintable(topLevelWindows()));
            return false;
        }
        // Let the first frame reach the screen.
        QTest::qWait(700);
        return true;
    }

    // Asks the window to close, as the window manager's close does, and waits for the exit.
    bool closeCleanly()
    {
        for (int attempt = 0; attempt < 5 && process.state() != QProcess::NotRunning; ++attempt) {
            int rc = 0;
            if (wine().inDesktop())
                probe({"close", mainWindow}, &rc);
            else
                run("wmctrl", {"-i", "-c", mainWindow}, &rc);
            if (!process.waitForFinished(2000))
                qWarning("close request %d (wmctrl %d) not answered: %s", attempt, rc,
                         run("xprop", {"-id", mainWindow, "WM_STATE", "_NET_WM_PID"}).constData());
        }
        if (process.state() != QProcess::NotRunning)
            return false;
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    // Under Wine the windows belong to the Windows process that Wine made, whose process id is
    // learnt from the main window (windowPid).
    QStringList visibleWindows()
    {
        QStringList windows;
        if (wine().inDesktop()) {
            for (const Win32Window &window : win32Order())
                windows << window.handle;
            return windows;
        }
        const qint64 pid = windowPid ? windowPid : process.processId();
        const QStringList search =
            wine().active() && !windowPid
                ? QStringList{"search", "--onlyvisible", "--name", "."}
                : QStringList{"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                              ".*"};
        for (const QByteArray &id : xdotool(search).split('\n')) {
            if (!id.isEmpty())
                windows << QString::fromLatin1(id);
        }
        return windows;
    }

    // The visible window of the given size, or an empty string.
    QString windowOfSize(const QSize &size)
    {
        for (int i = 0; i < 100; ++i) {
            for (const QString &window : visibleWindows()) {
                if (windowGeometry(window).rect.size() == size && window != mainWindow)
                    return window;
            }
            QTest::qWait(50);
        }
        return QString();
    }

    QProcess process;
    QString mainWindow;
    qint64 windowPid = 0;

private:
    Options options;
    QTemporaryDir dir;
    QString readOnlyMount;
};

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsFramelessWindowWithItsContent();
    void dragsByTheHeader();
    void leftPressOnMinimiseButtonDoesNotDrag();
    void openClientStartsClientAndMinimises();
    void guideDimsWindowScrollsAndClosesByButton();
    void guideClosesByEscape();
    void guideStaysOnTopWhenTheMainWindowIsRaised();
    void drivesEverythingByKeyboard();
    void screenReaderFindsAndPressesEveryControl();
    void writesLogWithNeedLog();
    void survivesBadSetups_data();
    void survivesBadSetups();

private:
    // Where the card's "打开客户端" block is on screen, found by its solid accent colour.
    QRect openClientBlock(const QImage &shot, const QRect &window);
    QPoint guideLink(const QImage &shot, const QRect &block);
    QPoint darkCentroid(const QImage &shot, const QRect &area, int *count = nullptr);
    // Gives the window the keyboard: through the window manager, or in a virtual desktop with a
    // click on an empty spot of it.
    void activate(const QString &window);

    // A started session with its guide open: the main window's place, a screenshot from
    // before the guide and the guide's window.
    struct OpenGuide {
        QRect window;
        QImage plain;
        QString guideWindow;
    };
    bool openGuide(AppSession &app, OpenGuide *opened);
};

bool TestEndToEnd::openGuide(AppSession &app, OpenGuide *opened)
{
    if (!app.prepare() || !app.start())
        return false;
    opened->window = windowGeometry(app.mainWindow).rect;
    opened->plain = screenshot();
    if (opened->plain.isNull()) {
        qWarning("%s", qPrintable(screenshotFailure));
        return false;
    }
    const QPoint link = guideLink(opened->plain, openClientBlock(opened->plain, opened->window));
    if (link.isNull())
        return false;
    clickAt(link);
    opened->guideWindow = app.windowOfSize(QSize(560, 544));
    // Let the overlay and the guide reach the screen.
    QTest::qWait(700);
    return !opened->guideWindow.isEmpty();
}

void TestEndToEnd::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (run through run-under-x.sh)");
    QVERIFY(!screenshot(QStringLiteral("root")).isNull());
    if (wine().inDesktop())
        QVERIFY(QFile::exists(wine().probe));
}

void TestEndToEnd::activate(const QString &window)
{
    if (wine().inDesktop())
        clickAt(windowGeometry(window).rect.topLeft() + QPoint(12, 12));
    else
        xdotool({"windowactivate", "--sync", window});
}

QRect TestEndToEnd::openClientBlock(const QImage &shot, const QRect &window)
{
    return solidBlock(shot, window, accent, 200);
}

QPoint TestEndToEnd::guideLink(const QImage &shot, const QRect &block)
{
    // The link is the only accent-coloured text between the prompt and the block.
    const QRect area(block.left(), block.top() - 120, block.width(), 80);
    QPoint sum;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.blue() - c.red() > 60) {
                sum += QPoint(x, y);
                ++count;
            }
        }
    }
    return count ? sum / count : QPoint();
}

QPoint TestEndToEnd::darkCentroid(const QImage &shot, const QRect &area, int *count)
{
    QPoint sum;
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (shot.pixelColor(x, y).value() < 0x70) {
                sum += QPoint(x, y);
                ++n;
            }
        }
    }
    if (count)
        *count = n;
    return n ? sum / n : QPoint();
}

void TestEndToEnd::showsFramelessWindowWithItsContent()
{
    AppSession app({});
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QRect window = windowGeometry(app.mainWindow).rect;
    QCOMPARE(window.size(), QSize(936, 760));
    // No frame: the window manager added no decoration around it (in a virtual desktop Win32
    // draws the frames: no caption, no sizing border).
    if (wine().inDesktop()) {
        const quint32 captionOrSizingBorder = 0x00C00000 | 0x00040000;
        QCOMPARE(probe({"window", app.mainWindow}).value(0).style & captionOrSizingBorder, 0u);
    } else {
        const QByteArray extents = run("xprop", {"-id", app.mainWindow, "_NET_FRAME_EXTENTS"});
        QVERIFY2(!extents.contains("=") || extents.contains("0, 0, 0, 0"), extents.constData());
    }

    TAKE_SCREENSHOT(shot);
    saveArtifact(shot.copy(window), "mainwindow");
    QVERIFY(near(shot.pixelColor(window.topLeft() + QPoint(40, 300)), windowBackground, 2));
    QVERIFY(near(shot.pixelColor(window.topLeft() + QPoint(900, 700)), windowBackground, 2));

    const QRect block = openClientBlock(shot, window);
    QVERIFY2(block.width() >= 250 && block.height() >= 30,
             qPrintable(QStringLiteral("%1x%2").arg(block.width()).arg(block.height())));
    // White text ("打开客户端") inside the blue block.
    int white = 0;
    for (int x = block.left(); x <= block.right(); ++x)
        white += shot.pixelColor(x, block.center().y()).lightness() > 230;
    QVERIFY(white > 10);
    // The card's grey, the title and the heading's blue ink.
    QVERIFY(near(shot.pixelColor(block.left() + 5, block.top() - 20), QColor(0xf4, 0xf4, 0xf4), 2));
    int titleInk = 0;
    darkCentroid(shot, QRect(window.left() + 40, window.top() + 5, 200, 40), &titleInk);
    QVERIFY(titleInk > 50);
    QVERIFY(
        !solidBlock(shot, QRect(window.left(), window.top() + 80, 936, 80), accent, 3).isEmpty());
    QVERIFY(!guideLink(shot, block).isNull());
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::dragsByTheHeader()
{
    AppSession app({});
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QRect before = windowGeometry(app.mainWindow).rect;
    const QPoint grab = before.topLeft() + QPoint(200, 130);
    moveMouse(grab);
    xdotool({"mousedown", "1"});
    for (int step = 1; step <= 5; ++step) {
        moveMouse(grab + QPoint(-20 * step, 12 * step));
        QTest::qWait(30);
    }
    xdotool({"mouseup", "1"});
    QTest::qWait(300);
    QCOMPARE(windowGeometry(app.mainWindow).rect.topLeft(), before.topLeft() + QPoint(-100, 60));
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::leftPressOnMinimiseButtonDoesNotDrag()
{
    AppSession app({});
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QRect window = windowGeometry(app.mainWindow).rect;
    TAKE_SCREENSHOT(shot);
    // The minimise bar is the left one of the two dark marks at the right of the title row.
    const QRect buttons(window.right() - 90, window.top(), 90, 50);
    int count = 0;
    const QPoint mini = darkCentroid(shot, QRect(buttons.left(), buttons.top(), 55, 50), &count);
    QVERIFY(count > 5);
    moveMouse(mini);
    xdotool({"mousedown", "1"});
    for (int step = 1; step <= 4; ++step) {
        moveMouse(mini + QPoint(-40 * step, 30 * step));
        QTest::qWait(30);
    }
    xdotool({"mouseup", "1"});
    QTest::qWait(300);
    QCOMPARE(windowGeometry(app.mainWindow).rect.topLeft(), window.topLeft());
    QVERIFY(!isMinimised(app.mainWindow));
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::openClientStartsClientAndMinimises()
{
    AppSession app({});
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QRect window = windowGeometry(app.mainWindow).rect;
    TAKE_SCREENSHOT(shot);
    const QRect block = openClientBlock(shot, window);
    QVERIFY(!block.isEmpty());
    clickAt(block.center());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(app.marker()), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(isMinimised(app.mainWindow), 5000);
    QTest::qWait(500);
    QFile marker(app.marker());
    QVERIFY(marker.open(QIODevice::ReadOnly));
    if (wine().active()) {
        // Started by the Windows shell: the program's path, no parameters, shown normally.
        const QList<QByteArray> record = marker.readAll().split('\n');
        QCOMPARE(record.size(), 4);
        const QByteArray program =
            (app.installPath() + "\\OrlaEntrance\\OrlaEntrance.exe").toUtf8();
        QVERIFY2(record.at(0).trimmed() == program || record.at(0).trimmed() == '"' + program + '"',
                 record.at(0).constData());
        QCOMPARE(record.at(2), QByteArray("1"));
    } else {
        QCOMPARE(marker.readAll(), QByteArray("started\n"));
    }
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::guideDimsWindowScrollsAndClosesByButton()
{
    AppSession app({});
    OpenGuide opened;
    QVERIFY(openGuide(app, &opened));
    const QRect window = opened.window;
    const QImage plain = opened.plain;
    const QString guideWindow = opened.guideWindow;
    const QRect guide = windowGeometry(guideWindow).rect;
    QVERIFY(window.contains(guide));
    TAKE_SCREENSHOT(dim);
    saveArtifact(dim.copy(window), "guide");

    // Outside the guide the main window shows through the overlay (veiled).
    int checked = 0;
    for (int y = window.top() + 5; y < window.bottom(); y += 37) {
        for (int x = window.left() + 5; x < window.right(); x += 41) {
            if (guide.adjusted(-2, -2, 2, 2).contains(x, y))
                continue;
            const QColor expected = veiled(plain.pixelColor(x, y));
            QVERIFY2(near(dim.pixelColor(x, y), expected, 4),
                     qPrintable(QStringLiteral("(%1,%2) %3 expected %4")
                                    .arg(x - window.left())
                                    .arg(y - window.top())
                                    .arg(dim.pixelColor(x, y).name(), expected.name())));
            ++checked;
        }
    }
    QVERIFY(checked > 100);

    // The wheel scrolls the steps; the title and the close button stay.
    const QRect header(guide.left(), guide.top(), guide.width(), 100);
    const QRect steps(guide.left() + 20, guide.top() + 130, guide.width() - 40, 380);
    moveMouse(QPoint(guide.center().x(), guide.top() + 300));
    for (int i = 0; i < 4; ++i)
        xdotool({"click", "5"});
    QTest::qWait(500);
    TAKE_SCREENSHOT(scrolled);
    QCOMPARE(scrolled.copy(header), dim.copy(header));
    QVERIFY(scrolled.copy(steps) != dim.copy(steps));
    // The close cross in the guide's top-right corner.
    int ink = 0;
    const QPoint cross =
        darkCentroid(scrolled, QRect(guide.right() - 60, guide.top(), 60, 60), &ink);
    QVERIFY(ink > 5);
    clickAt(cross);
    QTRY_VERIFY_WITH_TIMEOUT(!app.visibleWindows().contains(guideWindow), 5000);
    QTest::qWait(700);
    TAKE_SCREENSHOT(after);
    for (int y = window.top() + 5; y < window.bottom(); y += 53) {
        for (int x = window.left() + 5; x < window.right(); x += 59)
            QVERIFY(near(after.pixelColor(x, y), plain.pixelColor(x, y), 3));
    }
    QTRY_COMPARE_WITH_TIMEOUT(app.visibleWindows(), QStringList{app.mainWindow}, 5000);
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::guideClosesByEscape()
{
    AppSession app({});
    OpenGuide opened;
    QVERIFY(openGuide(app, &opened));
    const QPoint corner = opened.window.topLeft() + QPoint(20, 300);
    const QColor plainCorner = opened.plain.pixelColor(corner);
    TAKE_SCREENSHOT(dim);
    QVERIFY(near(dim.pixelColor(corner), veiled(plainCorner), 4));

    activate(opened.guideWindow);
    xdotool({"key", "Escape"});
    QTRY_VERIFY_WITH_TIMEOUT(!app.visibleWindows().contains(opened.guideWindow), 5000);
    QTest::qWait(500);
    TAKE_SCREENSHOT(after);
    QVERIFY(near(after.pixelColor(corner), plainCorner, 3));
    QTRY_COMPARE_WITH_TIMEOUT(app.visibleWindows(), QStringList{app.mainWindow}, 5000);
    QVERIFY(app.closeCleanly());
}

// Reads Win32's own stacking (in a virtual desktop it is also what the screen shows): the guide
// above the overlay above the main window, owned so that Windows keeps that order, and still on
// top once the main window is brought to the top as a taskbar click or Alt+Tab does.
void TestEndToEnd::guideStaysOnTopWhenTheMainWindowIsRaised()
{
    if (!wine().active() || wine().probe.isEmpty())
        QSKIP("reads Win32's stacking: the Windows build under Wine, with its stacking probe");
    AppSession app({});
    OpenGuide opened;
    QVERIFY(openGuide(app, &opened));

    // Both orders are read, and told, before anything is checked.
    const QList<Win32Window> opening = win32Order();
    const GuideWindows windows(opening);
    QVERIFY(windows.found());
    qInfo("Win32 order with the guide open: %s", qPrintable(windows.describe(opening)));
    TAKE_SCREENSHOT(before);
    int rc = -1;
    probe({"raise-main", mainTitle}, &rc);
    QCOMPARE(rc, 0);
    QTest::qWait(1000);
    const QList<Win32Window> raised = win32Order();
    const QRect guide = windows.guide.rect;
    const QList<Win32Window> atGuide = probe(
        {"window-at", QString::number(guide.center().x()), QString::number(guide.center().y())});
    qInfo("Win32 order after the main window was raised: %s; at the guide's centre: %s",
          qPrintable(windows.describe(raised)), qPrintable(windows.describe(atGuide)));
    TAKE_SCREENSHOT(after);
    saveArtifact(after.copy(opened.window), "guide-after-raise");

    QVERIFY(indexOf(opening, windows.guide) < indexOf(opening, windows.overlay));
    QVERIFY(indexOf(opening, windows.overlay) < indexOf(opening, windows.main));
    QCOMPARE(windows.overlay.owner, windows.main.handle);
    QCOMPARE(windows.guide.owner, windows.overlay.handle);
    QVERIFY(!windows.guide.taskbar);
    QVERIFY(!raised.isEmpty());
    QCOMPARE(raised.first().handle, windows.guide.handle);
    QCOMPARE(atGuide.value(0).handle, windows.guide.handle);

    // On the screen the guide shows as before, not dimmed, and its close button takes a click.
    for (int y = guide.top() + 5; y < guide.bottom(); y += 29) {
        for (int x = guide.left() + 5; x < guide.right() - 70; x += 31) {
            QVERIFY2(near(after.pixelColor(x, y), before.pixelColor(x, y), 4),
                     qPrintable(
                         QStringLiteral("(%1,%2) %3 was %4")
                             .arg(x - guide.left())
                             .arg(y - guide.top())
                             .arg(after.pixelColor(x, y).name(), before.pixelColor(x, y).name())));
        }
    }
    int ink = 0;
    const QPoint cross = darkCentroid(after, QRect(guide.right() - 60, guide.top(), 60, 60), &ink);
    QVERIFY(ink > 5);
    clickAt(cross);
    QTRY_COMPARE_WITH_TIMEOUT(app.visibleWindows(), QStringList{app.mainWindow}, 5000);
    QVERIFY(app.closeCleanly());
}

// Tab, Enter and Escape alone: focus starts on "打开客户端", Tab walks minimise, close and the
// guide link, each with its mark; Enter opens the guide above the veil, Escape closes it and
// gives the focus back to the link; Enter on "打开客户端" starts the client.
void TestEndToEnd::drivesEverythingByKeyboard()
{
    AppSession app({});
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QRect window = windowGeometry(app.mainWindow).rect;
    activate(app.mainWindow);
    TAKE_SCREENSHOT(plain);
    const QRect block = openClientBlock(plain, window);
    QVERIFY(!block.isEmpty());
    // Focused, "打开客户端" has a dark ring 2 pixels wide where, unfocused, its blue reaches
    // up to its 1-pixel border.
    const QPoint ring(block.left() - 1, block.center().y());
    const QRect titleButtons(window.right() - 70, window.top(), 70, 40);
    const QRect linkArea(block.left(), block.top() - 120, block.width(), 80);
    const int unselectedLink = accentPixels(plain, linkArea);
    const auto openClientMarked = [&](const QImage &shot) {
        return shot.pixelColor(ring).value() < 0x90;
    };
    const auto openClientPlain = [&](const QImage &shot) {
        return near(shot.pixelColor(ring), accent, 24);
    };
    const auto titleButtonMarked = [&](const QImage &shot) {
        return accentPixels(shot, titleButtons) > 10;
    };
    const auto linkMarked = [&](const QImage &shot) {
        return accentPixels(shot, linkArea) > unselectedLink + 300;
    };
    QVERIFY(openClientMarked(screenUntil(openClientMarked)));
    QCOMPARE(accentPixels(plain, titleButtons), 0);

    xdotool({"key", "Tab"});
    const QImage onMinimise = screenUntil(titleButtonMarked);
    QVERIFY(titleButtonMarked(onMinimise));
    QVERIFY(openClientPlain(onMinimise));
    xdotool({"key", "Tab", "Tab"});
    const QImage onLink = screenUntil(linkMarked);
    QVERIFY2(linkMarked(onLink), qPrintable(QStringLiteral("%1 accent pixels, %2 unfocused")
                                                .arg(accentPixels(onLink, linkArea))
                                                .arg(unselectedLink)));
    QVERIFY(!titleButtonMarked(onLink));
    saveArtifact(onLink.copy(window), "keyboard-link-focus");

    xdotool({"key", "Return"});
    const QString guideWindow = app.windowOfSize(QSize(560, 544));
    QVERIFY(!guideWindow.isEmpty());
    const QRect guide = windowGeometry(guideWindow).rect;
    const QPoint corner = window.topLeft() + QPoint(20, 300);
    const auto veiledAndGuideAbove = [&](const QImage &shot) {
        return near(shot.pixelColor(corner), veiled(plain.pixelColor(corner)), 4) &&
               near(shot.pixelColor(guide.topLeft() + QPoint(30, 30)), windowBackground, 4);
    };
    QVERIFY(veiledAndGuideAbove(screenUntil(veiledAndGuideAbove)));

    xdotool({"key", "Escape"});
    QTRY_VERIFY_WITH_TIMEOUT(!app.visibleWindows().contains(guideWindow), 5000);
    const auto unveiledWithLinkMarked = [&](const QImage &shot) {
        return near(shot.pixelColor(corner), plain.pixelColor(corner), 3) && linkMarked(shot);
    };
    QVERIFY(unveiledWithLinkMarked(screenUntil(unveiledWithLinkMarked)));

    xdotool({"key", "Tab"});
    QVERIFY(openClientMarked(screenUntil(openClientMarked)));
    xdotool({"key", "Return"});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(app.marker()), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(isMinimised(app.mainWindow), 5000);
    QVERIFY(app.closeCleanly());
}

// Through the AT-SPI bus, as Orca reads it: every control by role and name, each with a press
// action; pressing the guide link opens the guide over the veil as a click does.
void TestEndToEnd::screenReaderFindsAndPressesEveryControl()
{
    if (wine().active())
        QSKIP("AT-SPI is the Linux desktop's accessibility bus");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("needs a D-Bus session for the accessibility bus (the TestEndToEnd-atspi test)");
    AppSession::Options options;
    options.accessibilityBus = true;
    AppSession app(options);
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    const QString probe = QStringLiteral(LESSA_SOURCE_DIR "/tests/e2e/atspi-probe.py");
    const QString pid = QString::number(app.process.processId());
    // Each accessible object of the program: role, name, description and actions.
    const auto readTree = [&] {
        int exitCode = -1;
        const QString tree = QString::fromUtf8(run(probe, {"list", pid}, &exitCode, 30000));
        if (exitCode != 0)
            qWarning("atspi-probe.py list exited with %d:\n%s", exitCode, qPrintable(tree));
        QList<QStringList> objects;
        for (const QString &line : tree.split('\n')) {
            const QStringList fields = line.split('\t');
            if (fields.size() == 5)
                objects << fields.mid(1);
        }
        return objects;
    };
    const auto has = [](const QList<QStringList> &objects, const QString &role, const QString &name,
                        const QString &description, const QString &action) {
        for (const QStringList &object : objects) {
            if (object.at(0) == role && object.at(1) == name &&
                (description.isNull() || object.at(2) == description) &&
                (action.isNull() || object.at(3).split(',').contains(action)))
                return true;
        }
        qWarning("no %s named \"%s\"%s%s", qPrintable(role), qPrintable(name),
                 qPrintable(description.isNull() ? QString() : " described \"" + description + '"'),
                 qPrintable(action.isNull() ? QString() : " with the action " + action));
        return false;
    };
    const QString press = QStringLiteral("Press");
    const QList<QStringList> main = readTree();
    QVERIFY(has(main, "dialog", mainTitle, QString(), QString()));
    QVERIFY(has(main, "push button", QStringLiteral("最小化"), QString(), press));
    QVERIFY(has(main, "push button", QStringLiteral("关闭"), QString(), press));
    QVERIFY(has(main, "link", QStringLiteral("激活指南"), QString(), press));
    QVERIFY(has(main, "push button", QStringLiteral("打开客户端"), QString(), press));

    // Tabbed to, the link (not the sentence around it) is what the screen reader last hears
    // has the focus.
    QProcess focusWatch;
    focusWatch.start(probe, {"focus", pid, "6"});
    QVERIFY(focusWatch.waitForReadyRead(20000));
    QCOMPARE(focusWatch.readLine().trimmed(), QByteArray("ready"));
    activate(app.mainWindow);
    xdotool({"key", "Tab", "Tab", "Tab"});
    QVERIFY(focusWatch.waitForFinished(30000));
    const QList<QByteArray> focused = focusWatch.readAll().trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(focused.last()), QStringLiteral("link\t激活指南"));

    TAKE_SCREENSHOT(plain);
    const QRect window = windowGeometry(app.mainWindow).rect;
    int exitCode = -1;
    run(probe, {"press", pid, "link", QStringLiteral("激活指南")}, &exitCode, 30000);
    QCOMPARE(exitCode, 0);
    const QString guideWindow = app.windowOfSize(QSize(560, 544));
    QVERIFY(!guideWindow.isEmpty());
    QTest::qWait(700);
    TAKE_SCREENSHOT(opened);
    const QPoint corner = window.topLeft() + QPoint(20, 300);
    QVERIFY(near(opened.pixelColor(corner), veiled(plain.pixelColor(corner)), 4));

    const QList<QStringList> guide = readTree();
    QVERIFY(has(guide, "dialog", QStringLiteral("电子课本激活详细指南"), QString(), QString()));
    QVERIFY(has(guide, "push button", QStringLiteral("关闭"), QString(), press));
    for (const char *step : {"注册,登录Orla Nova客户端", "进入个人中心", "填写VIP充值卡"})
        QVERIFY(has(guide, "image", QString(""), QString::fromUtf8(step), QString()));
    activate(guideWindow);
    xdotool({"key", "Escape"});
    QTRY_COMPARE_WITH_TIMEOUT(app.visibleWindows(), QStringList{app.mainWindow}, 5000);
    QVERIFY(app.closeCleanly());
}

void TestEndToEnd::writesLogWithNeedLog()
{
    AppSession::Options options;
    options.versionIni = "[General]\nNeedLog=1\ncloudHost=http://127.0.0.1:9/\n";
    AppSession app(options);
    QVERIFY(app.prepare());
    QVERIFY(app.start());
    QVERIFY(app.closeCleanly());

    const QStringList files = QDir(app.work() + "/log").entryList({"log_*.txt"}, QDir::Files);
    QVERIFY(!files.isEmpty());
    QVERIFY(QRegularExpression("^log_\\d\\d-\\d\\d_\\d{4}\\.txt$").match(files.first()).hasMatch());
    QByteArray content;
    for (const QString &name : files) {
        QFile file(app.work() + "/log/" + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        content += file.readAll();
    }
    QVERIFY(content.endsWith("\r\n"));
    const QRegularExpression line(
        "^\\d\\d:\\d\\d:\\d\\d \\d{3} (Debug:|Warning:|Critical:|) .* \\(\\S* \\d+\\)\r$");
    for (const QByteArray &text : content.split('\n')) {
        if (!text.isEmpty())
            QVERIFY2(line.match(QString::fromUtf8(text)).hasMatch(), text.constData());
    }
    // qDebug doubles the backslash that ends the install path, and every other one.
    const QByteArray installLine =
        " Debug: \"" + QString(app.installPath() + "\\").replace("\\", "\\\\").toUtf8() +
        "\" ( 0)\r\n";
    QVERIFY2(content.contains(installLine), content.constData());
    QVERIFY(content.contains(" Debug: \"http://127.0.0.1:9/\" ( 0)\r\n"));
}

void TestEndToEnd::survivesBadSetups_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("no images") << "no-images";
    QTest::newRow("no style sheet") << "no-qss";
    QTest::newRow("no version.ini") << "no-ini";
    QTest::newRow("unreadable version.ini") << "ini-directory";
    QTest::newRow("random bytes version.ini") << "ini-random";
    QTest::newRow("huge version.ini") << "ini-huge";
    QTest::newRow("NeedLog=abc") << "needlog-abc";
    QTest::newRow("read-only working directory") << "read-only";
    QTest::newRow("plain file named log") << "log-file";
}

void TestEndToEnd::survivesBadSetups()
{
    QFETCH(QString, setup);
    AppSession::Options options;
    std::mt19937 random(20261207);
    if (setup == "no-images") {
        options.images = false;
    } else if (setup == "no-qss") {
        options.styleSheet = false;
    } else if (setup == "ini-directory") {
        options.versionIniIsDirectory = true;
    } else if (setup == "ini-random" || setup == "ini-huge") {
        QByteArray bytes(setup == "ini-huge" ? 6 * 1024 * 1024 : 4096, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random());
        options.versionIni = bytes;
    } else if (setup == "needlog-abc") {
        options.versionIni = "NeedLog=abc\n";
    } else if (setup == "read-only" || setup == "log-file") {
        options.versionIni = "NeedLog=1\n";
        options.logIsPlainFile = setup == "log-file";
    }
    AppSession app(options);
    QVERIFY(app.prepare());
    if (setup == "read-only" && wine().active())
        QSKIP("a read-only bind mount is a Linux set-up");
    if (setup == "read-only" && !app.makeWorkReadOnly())
        QSKIP("cannot make a read-only working directory here");
    QVERIFY(app.start());
    QCOMPARE(windowGeometry(app.mainWindow).rect.size(), QSize(936, 760));
    QVERIFY(app.closeCleanly());

    if (setup == "needlog-abc")
        QVERIFY(!QFile::exists(app.work() + "/log"));
    if (setup == "log-file") {
        QVERIFY(!QDir(app.work()).entryList({"log_*.txt"}, QDir::Files).isEmpty());
        QFile log(app.work() + "/log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("a plain file"));
    }
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
