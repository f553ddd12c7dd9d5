#pragma once

#include <QByteArray>
#include <QString>

// Text conventions of the fast-import stream shared by the repository code.
namespace FastImportStream {

// A branch name as a full ref: "refs/heads/" in front unless it starts with "refs/".
QByteArray refFor(const QByteArray &branch);
QByteArray refFor(const QString &branch);

// A path as fast-import reads it in "M" and "D" lines. A path that contains a
// line feed or begins with a double quote would break the stream as written,
// so it is given in fast-import's C-style quoted form; every other path is
// written as it is.
QByteArray pathFor(const QString &path);

// A path inside a branch as the stream may name it: without leading slashes
// and without empty components, which fast-import refuses. Rules and
// prefixes produce both ("match /trunk" without its slash, "prefix sub//x/").
// A path that is only slashes, the branch root, becomes empty.
QString normalisedPath(const QString &path);

bool containsLineFeed(const QString &text);

// Whether git accepts the ref of a branch or tag name (refFor of it), by the
// rules of "git check-ref-format": no blank, control character, DEL, "~",
// "^", ":", "?", "*", "[" or "\\"; no "..", no "@{"; no component that begins
// with "." or ends with ".lock"; no empty component, no trailing "/" or ".".
// The name "@" alone is refused too, as git refuses it for a branch. Every
// ref the repositories make (branches, tags, their backups) derives from
// such a name, so a name that passes cannot kill fast-import.
bool isValidRefName(const QString &branch);

} // namespace FastImportStream
