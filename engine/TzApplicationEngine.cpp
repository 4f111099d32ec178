#include "TzApplicationEngine.h"

#include <QDebug>
#include <QGlobalStatic>

namespace
{
Q_GLOBAL_STATIC(TzApplicationEngine, engineInstance)

// Process-wide and GUI-thread only, as the slot is.
int handledMessageCount = 0;
} // namespace

TzApplicationEngine::TzApplicationEngine() : QWidget(nullptr) {}

TzApplicationEngine::~TzApplicationEngine() = default;

TzApplicationEngine *TzApplicationEngine::instance()
{
    // Q_GLOBAL_STATIC's call operator yields null after destruction instead of recreating.
    if (engineInstance.isDestroyed())
        return nullptr;
    return engineInstance();
}

void TzApplicationEngine::handleMessage(const QString &message)
{
    const int n = handledMessageCount++;
    QMessageLogger().debug() << "####i = " << n << " messages == " << message;
    if (message.split(QLatin1Char(',')).size() == 2)
        emit secondexecute(0);
}
