#include "svn/ExportProgress.h"

#include <cstdio>

void StandardOutputProgress::pathExported()
{
    putchar('.');
    fflush(stdout);
}

void StandardOutputProgress::fileWritten()
{
    putchar('+');
    fflush(stdout);
}
