// Start-up probe. "product" starts the application as main() does; "baseline" shows a bare
// frameless 936 x 760 QDialog; "fair" the same dialog holding what any window with this
// look pays for: one QLabel with Chinese text in 微软雅黑 and one QLabel with a pixmap from
// images/. "fair-network" and "fair-styles" add one candidate cost each to "fair": a
// QNetworkAccessManager, and the product's global and window style sheets. At the first
// paint of the window it prints the wall-clock time in nanoseconds, the peak RSS in KiB and,
// for the product, the bytes of its decoded images, then exits. The driver
// (scripts/bench.sh) takes the start time from its side of the fork, the same for all.

#include "LogMessageHandler.h"
#include "Startup.h"
#include "StyleSheetLoader.h"
#include "VersionIni.h"
#include "mainpage.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QSettings>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
qint64 decodedImageBytes()
{
    qint64 bytes = 0;
    const QDir images(QStringLiteral("images"));
    for (const QString &name : images.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const QImage image(images.filePath(name));
        bytes += qint64(image.bytesPerLine()) * image.height();
    }
    return bytes;
}

// Reports at the first paint of the watched window, once.
class FirstPaintReporter : public QObject
{
public:
    FirstPaintReporter(QWidget *watched, bool product) : watched(watched), product(product) {}

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == watched && event->type() == QEvent::Paint && !reported) {
            reported = true;
            timespec now;
            clock_gettime(CLOCK_REALTIME, &now);
            rusage usage;
            getrusage(RUSAGE_SELF, &usage);
            std::printf("first_paint_ns=%lld peak_rss_kib=%ld image_bytes=%lld\n",
                        qint64(now.tv_sec) * 1000000000 + now.tv_nsec, usage.ru_maxrss,
                        product ? decodedImageBytes() : 0);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    QWidget *watched;
    bool product;
    bool reported = false;
};
} // namespace

int main(int argc, char *argv[])
{
    const bool product = argc > 1 && std::strcmp(argv[1], "product") == 0;
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> window;
    if (product) {
        QSettings versionIni(VersionIni::path(), QSettings::IniFormat);
        versionIni.setIniCodec("UTF-8");
        if (Startup::isLogRequested(versionIni))
            qInstallMessageHandler(logMessageHandler);
        loadGlobalStyleSheet();
        window.reset(new mainpage);
        Startup::presentMainWindow(window.get());
    } else {
        auto *dialog = new QDialog;
        dialog->setWindowFlags(Qt::FramelessWindowHint);
        dialog->setFixedSize(936, 760);
        window.reset(dialog);
        const QString mode = QString::fromLatin1(argc > 1 ? argv[1] : "baseline");
        if (mode.startsWith(QLatin1String("fair"))) {
            auto *text = new QLabel(QStringLiteral("激活您的电子课本VIP卡"), dialog);
            text->setStyleSheet(
                QStringLiteral("font-size:28px;color:#4778C7;font-family:微软雅黑"));
            auto *picture = new QLabel(dialog);
            picture->setPixmap(QPixmap(QStringLiteral("images/ebook.png")));
            picture->move(0, 100);
        }
        if (mode == QLatin1String("fair-network"))
            new QNetworkAccessManager(dialog);
        if (mode == QLatin1String("fair-styles")) {
            loadGlobalStyleSheet();
            dialog->setStyleSheet(QStringLiteral(
                "border-width:0px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
                "background-color:#f7f7f7"));
        }
    }
    FirstPaintReporter reporter(window.get(), product);
    window->installEventFilter(&reporter);
    window->show();
    return app.exec();
}
