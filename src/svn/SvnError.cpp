#include "svn/SvnError.h"

#include <cstdio>
#include <cstdlib>
#include <svn_error.h>

namespace {

// The error as the library's printer writes it.
QByteArray printedForm(svn_error_t *error)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&buffer, &size);
    if (!stream)
        return QByteArray("svn: ") + svn_error_symbolic_name(error->apr_err) + '\n';
    svn_handle_error2(error, stream, FALSE, "svn: ");
    fclose(stream);
    const QByteArray text(buffer, int(size));
    free(buffer);
    return text;
}

} // namespace

Failure svnFailure(svn_error_t *error, const QString &context)
{
    Failure failure;
    failure.setCause(printedForm(error));
    svn_error_clear(error);
    if (!context.isEmpty())
        failure << context.toUtf8().constData();
    return failure;
}

Failure svnFailureInOneLine(svn_error_t *error, const QString &context)
{
    char buffer[512];
    const QString text = QString::fromUtf8(svn_err_best_message(error, buffer, sizeof buffer));
    svn_error_clear(error);
    return Failure::fatal(context + QLatin1String(": svn: ") + text);
}

void warnSvnError(svn_error_t *error)
{
    svn_handle_error2(error, stderr, FALSE, "svn: ");
    svn_error_clear(error);
}

bool succeededOrWarned(const Status &status)
{
    if (status)
        return true;
    const QByteArray &cause = status.failure().cause();
    fwrite(cause.constData(), 1, size_t(cause.size()), stderr);
    return false;
}
