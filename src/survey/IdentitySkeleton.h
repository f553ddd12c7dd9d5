#pragma once

#include "survey/HistorySurvey.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// An identity map for the user to edit: one "user = user <user@DOMAIN>"
// line per Subversion author, in the form the converter's identity map
// reads. An author that is already "Name <address>" maps to itself; the
// revisions without an author are told in a comment.
namespace IdentitySkeleton {

QByteArray write(const QMap<QByteArray, HistorySurvey::Author> &authors, const QString &domain);

} // namespace IdentitySkeleton
