#include "svn/SvnError.h"

#include <cstdio>
#include <svn_error.h>

int reportSvnError(svn_error_t *error)
{
    svn_handle_error2(error, stderr, FALSE, "svn: ");
    svn_error_clear(error);
    return 1;
}

Failure svnFailure(svn_error_t *error)
{
    reportSvnError(error);
    return Failure::alreadyReported();
}
