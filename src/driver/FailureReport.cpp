#include "driver/FailureReport.h"

#include <QDebug>

void reportFailure(const Failure &failure)
{
    const QString message = failure.message();
    // An empty message was printed where the failure happened: repository
    // operations still print their own.
    if (message.isEmpty())
        return;
    if (failure.isFatal())
        qFatal("%s", qPrintable(message));
    qCritical().noquote() << message;
}
