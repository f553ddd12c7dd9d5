#include "driver/FailureReport.h"

#include <QDebug>

#include <cstdio>

void reportFailure(const Failure &failure)
{
    if (failure.wasReported())
        return;
    if (!failure.cause().isEmpty()) {
        fwrite(failure.cause().constData(), 1, size_t(failure.cause().size()), stderr);
        fflush(stderr);
        if (failure.message().isEmpty())
            return;
    }
    // A fatal failure reads the same as a critical one; it differs only in
    // ending the run where it happened, which is the caller's part. Ending
    // through the logger's fatal level would abort the process instead:
    // status 134, maybe a core file, and no repository finished.
    qCritical().noquote() << failure.message();
}
