#pragma once

#include "common/Failure.h"

struct svn_error_t;

// Prints a Subversion error to standard error, every line prefixed with
// "svn: ", and releases it. Returns 1, the failure result of the callers.
int reportSvnError(svn_error_t *error);

// The same printing for callers that return a Status. The Subversion error
// names the path and revision itself; it is printed where it happens, so the
// failure carries an empty message (already reported).
Failure svnFailure(svn_error_t *error);
