#pragma once

struct svn_error_t;

// Prints a Subversion error to standard error, every line prefixed with
// "svn: ", and releases it. Returns 1, the failure result of the callers.
int reportSvnError(svn_error_t *error);
