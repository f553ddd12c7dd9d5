#pragma once

#include "common/Failure.h"

#include <QString>

struct svn_error_t;

// Takes over a Subversion error as a Failure and releases it. The library's
// own text of the error (every line prefixed with "svn: ", naming the path
// and revision) becomes the failure's cause, which is printed before its
// message; context, when given, is that message.
Failure svnFailure(svn_error_t *error, const QString &context = QString());

// The same for a one-line report: "context: svn: " and the error's most
// telling message.
Failure svnFailureInOneLine(svn_error_t *error, const QString &context);

// For an error the caller goes on from: prints the library's text of it to
// standard error at once, as a warning, and releases it.
void warnSvnError(svn_error_t *error);

// For a failure the caller goes on from: prints its cause at once, as a
// warning. Whether the status is a success.
bool succeededOrWarned(const Status &status);
