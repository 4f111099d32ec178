// buildPostData() against a hand-written reference of the same steps over QByteArray:
// add the two client fields, encode every value once, sign, join.

#include "TzCloud.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <benchmark/benchmark.h>

namespace
{
QMap<QString, QString> makeParams(int count, bool cjk)
{
    QMap<QString, QString> params;
    for (int i = 0; i < count; ++i) {
        const QString value = cjk ? QStringLiteral("人教社电子课本 第%1册").arg(i)
                                  : QStringLiteral("value number %1~x").arg(i);
        params.insert(QStringLiteral("key%1").arg(i, 3, 10, QLatin1Char('0')), value);
    }
    return params;
}

QByteArray referencePostData(QMap<QString, QString> params)
{
    params.insert(QStringLiteral("sessionkey"), QStringLiteral("deskagent"));
    params.insert(QStringLiteral("resttime"),
                  QString::number(QDateTime::currentMSecsSinceEpoch() / 1000));
    QByteArray signing;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> encoded;
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        QByteArray value = it.value().toUtf8().toPercentEncoding();
        value.replace("%20", "+");
        const QByteArray key = it.key().toUtf8();
        signing += key + '=' + value + '&';
        encoded.append({key, value});
    }
    signing += "9e07b1c4d36f";
    const QByteArray digest = QCryptographicHash::hash(signing, QCryptographicHash::Md5).toHex();
    bool digestWritten = false;
    for (const auto &field : encoded) {
        if (!digestWritten && field.first > "restauth") {
            body += (body.isEmpty() ? "" : "&") + QByteArray("restauth=") + digest;
            digestWritten = true;
        }
        body += (body.isEmpty() ? "" : "&") + field.first + '=' + field.second;
    }
    if (!digestWritten)
        body += "&restauth=" + digest;
    return body;
}

void BM_BuildPostData(benchmark::State &state)
{
    const QMap<QString, QString> params = makeParams(int(state.range(0)), state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(TzCloud::buildPostData(params));
}

void BM_Reference(benchmark::State &state)
{
    const QMap<QString, QString> params = makeParams(int(state.range(0)), state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(referencePostData(params));
}
} // namespace

BENCHMARK(BM_Reference)->ArgsProduct({{0, 10, 100}, {0, 1}})->ArgNames({"params", "cjk"});
BENCHMARK(BM_BuildPostData)->ArgsProduct({{0, 10, 100}, {0, 1}})->ArgNames({"params", "cjk"});
BENCHMARK_MAIN();
