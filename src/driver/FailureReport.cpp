#include "driver/FailureReport.h"

#include <QDebug>

void reportFailure(const Failure &failure)
{
    if (failure.wasReported())
        return;
    // A fatal failure reads the same as a critical one; it differs only in
    // ending the run where it happened, which is the caller's part. Ending
    // through the logger's fatal level would abort the process instead:
    // status 134, maybe a core file, and no repository finished.
    qCritical().noquote() << failure.message();
}
