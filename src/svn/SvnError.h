#pragma once

#include "common/Failure.h"

struct svn_error_t;

// Prints a Subversion error to standard error, every line prefixed with
// "svn: ", and releases it. Returns 1, the failure result of the callers.
int reportSvnError(svn_error_t *error);

// The same printing for callers that return a Status. The Subversion error
// names the path and revision itself and is printed where it happens, in the
// printer's own multi-line form and in order with the messages around it, so
// the failure only records that it has been reported.
Failure svnFailure(svn_error_t *error);
