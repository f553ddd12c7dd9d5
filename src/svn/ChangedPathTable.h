#pragma once

#include <QByteArray>
#include <QMap>

#include <svn_fs.h>

// What the dispatch needs to know of one changed path.
struct PathChange
{
    svn_fs_path_change_kind_t kind = svn_fs_path_change_modify;
    bool propertiesModified = false;
};

// Every changed path of a revision, ordered byte-wise by path.
using ChangedPathTable = QMap<QByteArray, PathChange>;
