// Cost of one log line through logMessageHandler against the floor of the same work done
// with plain POSIX calls: open(O_WRONLY | O_APPEND | O_CREAT), write, close per line; and,
// since the handler keeps lines in the order of their times, against that floor under one lock.

#include "LogMessageHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace
{
const QString message = QStringLiteral("cloud reply for user/info arrived in 12 ms");

void BM_Handler(benchmark::State &state)
{
    const QMessageLogContext context("mainpage.cpp", 118, "void mainpage::openClient()", "default");
    for (auto _ : state)
        logMessageHandler(QtDebugMsg, context, message);
    state.SetItemsProcessed(state.iterations());
}

template <bool locked> void posixFloor(benchmark::State &state)
{
    static std::mutex order;
    const QByteArray path = QFile::encodeName(QDir::currentPath() + "/log/floor.txt");
    const QByteArray line = "09:05:03 007 Debug: " + message.toUtf8() + " (mainpage.cpp 118)\r\n";
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(order, std::defer_lock);
        if (locked)
            lock.lock();
        const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (fd >= 0) {
            benchmark::DoNotOptimize(::write(fd, line.constData(), size_t(line.size())));
            ::close(fd);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PosixFloor(benchmark::State &state)
{
    posixFloor<false>(state);
}

void BM_PosixFloorLocked(benchmark::State &state)
{
    posixFloor<true>(state);
}
} // namespace

BENCHMARK(BM_PosixFloor)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_PosixFloorLocked)->Threads(8)->UseRealTime();
BENCHMARK(BM_Handler)->Threads(1)->Threads(8)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("LessaBench"));
    QCoreApplication::setApplicationName(QStringLiteral("bench_log"));
    QTemporaryDir work;
    QTemporaryDir settingsHome;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("log"));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
