// Reports what TzApplicationEngine::instance() returns once static objects are torn down.
// The reporter is constructed before the engine, so its destructor runs after the engine's.

#include "TzApplicationEngine.h"

#include <QApplication>

#include <cstdio>

namespace
{
struct TeardownReporter {
    ~TeardownReporter()
    {
        const TzApplicationEngine *first = TzApplicationEngine::instance();
        const TzApplicationEngine *second = TzApplicationEngine::instance();
        std::printf("after-teardown:%s,%s\n", first ? "alive" : "null", second ? "alive" : "null");
        std::fflush(stdout);
    }
} reporter;
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TzApplicationEngine *engine = TzApplicationEngine::instance();
    engine->mainWidth = 936;
    std::printf("during-run:%s\n", engine == TzApplicationEngine::instance() ? "same" : "other");
    std::fflush(stdout);
    return 0;
}
