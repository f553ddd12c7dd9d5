#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Subversion user name to git identity ("Name <address>"), both as bytes.
using IdentityMap = QHash<QByteArray, QByteArray>;

// Reads an identity map file; an empty name gives an empty map without a word.
IdentityMap readIdentityMap(const QString &fileName);
