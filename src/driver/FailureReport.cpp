#include "driver/FailureReport.h"

#include <QDebug>

void reportFailure(const Failure &failure)
{
    if (failure.wasReported())
        return;
    const QString message = failure.message();
    if (failure.isFatal())
        qFatal("%s", qPrintable(message));
    qCritical().noquote() << message;
}
