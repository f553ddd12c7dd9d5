#pragma once

#include "repository/Repository.h"

#include <QByteArray>
#include <QString>

#include <svn_fs.h>

// A node of a Subversion tree and the place in a transaction it is written to.
struct DumpTarget
{
    svn_fs_root_t *root = nullptr;
    QByteArray svnPath;
    // The path in the branch; a directory's ends with "/".
    QString gitPath;
    Repository::Transaction *transaction = nullptr;
};
