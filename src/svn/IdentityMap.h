#pragma once

#include <QByteArray>
#include <QHash>

// Subversion user name to git identity ("Name <address>"), both as bytes.
using IdentityMap = QHash<QByteArray, QByteArray>;
