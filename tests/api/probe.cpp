// Uses of Qt API for the Qt 5.9 API-level check: each line marked "flagged:" must be flagged
// with those names, and nothing else. Never built: parsed with its compile command.
#include <QJsonObject>
#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <QWindow>
#include <limits>

#include "probe.h"

namespace
{

void newClass()
{
    QRandomGenerator *g = nullptr;  // flagged: QRandomGenerator
    g = QRandomGenerator::global(); // flagged: QRandomGenerator, QRandomGenerator::global
    (void)g;
}

void newFunction()
{
    QString s;
    s = s.chopped(1); // flagged: QString::chopped
}

void overloadsByArgumentCount()
{
    // Ten arguments: only the variadic arg() of 5.14 takes them; nine QStrings at most before.
    const QString a = "a";
    QString::number(1).arg(a, a, a, a, a, a, a, a, a, a); // flagged: QString::arg
    // Qt 5.15 picks the variadic arg() here too, but Qt 5.9 takes arg(QString, QString, QString).
    QString::number(1).arg("a", "b", "c");
    QString s = QString::number(5).left(1);
}

void guarded()
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)
    QString s;
    s = s.chopped(1);
#endif
#if QT_VERSION >= QT_VERSION_CHECK(5, 9, 0)
    QString t;
    t = t.chopped(1); // flagged: QString::chopped
#endif
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    s.split(",", Qt::SkipEmptyParts);
#endif
}

void overloadsByArgumentType()
{
    QString s;
    s.split(',', Qt::SkipEmptyParts); // flagged: QString::split, Qt::SkipEmptyParts
    s.split(',', QString::SkipEmptyParts);
    QProcess process;
    qint64 pid = 0;
    process.startDetached(&pid); // flagged: QProcess::startDetached
    process.startDetached("cmd");
}

void memberFunctionPointers(QObject *receiver)
{
    QNetworkReply *reply = nullptr;
    QObject::connect(reply, &QNetworkReply::errorOccurred, // flagged: QNetworkReply::errorOccurred
                     receiver, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, receiver, &QObject::deleteLater);
}

void membersByReceiverType()
{
    QString s = "a";
    QChar c = s.front(); // flagged: QString::front
    QStringList l;
    QString d = l.front();
    c = QString("a").front(); // flagged: QString::front
}

void typedefsAndEnumerators()
{
    qsizetype n = 0; // flagged: qsizetype
    (void)n;
    QNetworkRequest request;
    // The mark stays on the line of the use.
    // clang-format off
    const auto autoDelete = QNetworkRequest::AutoDeleteReplyOnFinishAttribute; // flagged: QNetworkRequest::AutoDeleteReplyOnFinishAttribute
    // clang-format on
    request.setAttribute(autoDelete, true);
    request.setAttribute(QNetworkRequest::FollowRedirectsAttribute, true);
    QChar formFeed = QChar::FormFeed; // flagged: QChar::FormFeed
    (void)formFeed;
}

void accessorOlderThanItsProperty(QWindow *w)
{
    w->setTransientParent(w);
}

void namespaceFunctions()
{
    QString s;
    QTextStream ts(&s);
    ts << s << Qt::endl; // flagged: Qt::endl
    Qt::endl(ts);        // flagged: Qt::endl
    ts << s << endl;
}

void defaultArguments()
{
    QProcess process;
    process.startDetached(); // flagged: QProcess::startDetached
    QProcess::startDetached("cmd", QStringList(), "dir");
    // Qt 5.15 moved these defaults to newer overloads; Qt 5.9 calls the old ones.
    QThread thread;
    thread.wait();
    QString s;
    QStringList l = s.split(QLatin1Char(','));
}

void olderOverloadsByConversions()
{
    // arg(QLatin1String, int, QChar) is of 5.10: Qt 5.9 takes arg(const QString &, int, QChar).
    QString s = QString("%1").arg(QLatin1String("x"));
    const short width = 8;
    s = QString("%1").arg(QLatin1String("x"), width);
}

void moveAssignment()
{
    // Qt 5.15 picks the move assignment of 5.10; Qt 5.9 copies.
    QJsonObject object;
    object = QJsonObject::fromVariantMap(QVariantMap());
}

void untaggedTwins()
{
    QLocale loc;
    QString s = loc.formattedDataSize(1000); // flagged: QLocale::formattedDataSize
    s = QLocale().formattedDataSize(1000);   // flagged: QLocale::formattedDataSize
}

struct Holder {
    Q_DISABLE_COPY_MOVE(Holder) // flagged: Q_DISABLE_COPY_MOVE
};

struct Tool {
    QString marker() const;
    void startDetached();
};

QString Tool::marker() const
{
    QPixmap bitmap(QSize(1, 1));
    quint32 m = std::numeric_limits<quint32>::max();
    (void)m;
    return QString();
}

void branches()
{
#if QT_VERSION < QT_VERSION_CHECK(5, 14, 0)
    QString s;
    s.split(",", QString::SkipEmptyParts);
#else
    QString s;
    s.split(",", Qt::SkipEmptyParts);
#endif
#if QT_VERSION < QT_VERSION_CHECK(5, 14, 0)
    s.split(",", Qt::SkipEmptyParts); // flagged: QString::split, Qt::SkipEmptyParts
#else
    s.split(",", QString::SkipEmptyParts);
#endif
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    s.split(",", QString::SkipEmptyParts);
#else
    s.split(",", Qt::SkipEmptyParts); // flagged: QString::split, Qt::SkipEmptyParts
#endif
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    s.split(",", Qt::SkipEmptyParts);
#elif QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)
    s = s.chopped(1);
#else
    s = QString::number(5);
#endif
#if QT_VERSION < QT_VERSION_CHECK(5, 10, 0)
    s = QString::number(5);
#elif QT_VERSION < QT_VERSION_CHECK(5, 14, 0)
    s = s.chopped(1);
#else
    s.split(",", Qt::SkipEmptyParts);
#endif
#if QT_VERSION < QT_VERSION_CHECK(5, 10, 0)
    s = QString::number(5);
#elif QT_VERSION < QT_VERSION_CHECK(5, 14, 0)
    s.split(",", Qt::SkipEmptyParts); // flagged: QString::split, Qt::SkipEmptyParts
#endif
#if QT_VERSION > 0x050b00 && QT_VERSION < 0x060000
    s = s.chopped(1);
#endif
}

} // namespace
