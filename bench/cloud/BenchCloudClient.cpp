// Requests per second and latency of TzCloud against a bare QNetworkAccessManager posting
// the same body, both to a keep-alive server on 127.0.0.1, with 1, 8 and 64 requests kept
// outstanding.

#include "KeepAliveServer.h"
#include "TzCloud.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace
{
QString baseUrl;
const QMap<QString, QString> params = {{QStringLiteral("uid"), QStringLiteral("42")},
                                       {QStringLiteral("card"), QStringLiteral("VIP 一年")}};

// Keeps `window` requests outstanding; one benchmark iteration is one completed request.
template <typename Issue>
void keepOutstanding(benchmark::State &state, Issue issue, int &completed,
                     QVector<qint64> &latencies)
{
    const int window = int(state.range(0));
    int issued = 0;
    for (; issued < window; ++issued)
        issue(issued);
    for (auto _ : state) {
        const int target = completed + 1;
        while (completed < target)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        issue(issued++);
    }
    while (completed < issued)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&latencies](double p) {
        return latencies.isEmpty() ? 0.0 : latencies.at(int(p * (latencies.size() - 1))) / 1000.0;
    };
    state.counters["p50_us"] = percentile(0.50);
    state.counters["p99_us"] = percentile(0.99);
    state.SetItemsProcessed(state.iterations());
}

void BM_TzCloud(benchmark::State &state)
{
    TzCloud cloud(baseUrl, nullptr);
    QElapsedTimer clock;
    clock.start();
    QHash<QString, qint64> started;
    QVector<qint64> latencies;
    int completed = 0;
    int errors = 0;
    const auto done = [&](const QString &path) {
        latencies.append(clock.nsecsElapsed() - started.take(path));
        ++completed;
    };
    QObject::connect(&cloud, &TzCloud::sigHttpRequestFinish, &cloud,
                     [&](const QString &path, const QJsonObject &) { done(path); });
    QObject::connect(&cloud, &TzCloud::sigHttpRequestError, &cloud, [&](const QString &path, int) {
        ++errors;
        done(path);
    });
    const auto issue = [&](int n) {
        const QString path = QStringLiteral("bench/") + QString::number(n);
        started.insert(path, clock.nsecsElapsed());
        cloud.postRequest(params, path);
    };
    keepOutstanding(state, issue, completed, latencies);
    if (errors)
        state.SkipWithError("requests failed");
}

void BM_BareQnam(benchmark::State &state)
{
    QNetworkAccessManager manager;
    const QByteArray body = TzCloud::buildPostData(params);
    QElapsedTimer clock;
    clock.start();
    QHash<QNetworkReply *, qint64> started;
    QVector<qint64> latencies;
    int completed = 0;
    int errors = 0;
    QObject::connect(&manager, &QNetworkAccessManager::finished, &manager,
                     [&](QNetworkReply *reply) {
                         reply->readAll();
                         errors += reply->error() != QNetworkReply::NoError;
                         latencies.append(clock.nsecsElapsed() - started.take(reply));
                         reply->deleteLater();
                         ++completed;
                     });
    const auto issue = [&](int n) {
        QNetworkRequest request(QUrl(baseUrl + QStringLiteral("bench/") + QString::number(n)));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        const qint64 now = clock.nsecsElapsed();
        started.insert(manager.post(request, body), now);
    };
    keepOutstanding(state, issue, completed, latencies);
    if (errors)
        state.SkipWithError("requests failed");
}

// The CPU time is the whole process's (client, Qt's HTTP thread and the server): what a request
// costs, whichever core ran it and whenever the scheduler let it run.
void outstanding(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Arg(1)->Arg(8)->Arg(64)->ArgName("outstanding");
    benchmark->UseRealTime()->MeasureProcessCPUTime();
}
} // namespace

// LESSA_BENCH_ITERATIONS=N runs each benchmark for exactly N requests, for counting its
// instructions (bench/bench.sh runs it under callgrind with two N, so that the set-up cancels).
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    KeepAliveServer server;
    baseUrl = server.start();
    const int iterations = qEnvironmentVariableIntValue("LESSA_BENCH_ITERATIONS");
    for (const auto &entry :
         {std::make_pair("BM_BareQnam", &BM_BareQnam), std::make_pair("BM_TzCloud", &BM_TzCloud)}) {
        auto *registered = benchmark::RegisterBenchmark(entry.first, entry.second);
        outstanding(registered);
        if (iterations > 0)
            registered->Iterations(iterations);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
