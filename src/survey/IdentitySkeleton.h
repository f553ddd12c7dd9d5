#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// An identity map for the user to edit: one "user = user <user@DOMAIN>"
// line per Subversion author, in the form the converter's identity map reads.
namespace IdentitySkeleton {

QByteArray write(const QList<QByteArray> &authors, const QString &domain);

} // namespace IdentitySkeleton
