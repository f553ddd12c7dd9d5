#pragma once

#include <QByteArray>
#include <QString>

// Text conventions of the fast-import stream shared by the repository code.
namespace FastImportStream {

// A path as fast-import reads it in "M" and "D" lines. A path that contains a
// line feed or begins with a double quote would break the stream as written,
// so it is given in fast-import's C-style quoted form; every other path is
// written as it is.
QByteArray pathFor(const QString &path);

bool containsLineFeed(const QString &text);

} // namespace FastImportStream
