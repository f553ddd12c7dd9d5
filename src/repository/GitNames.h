#pragma once

#include <QByteArray>
#include <QString>

// The names git gives to what a conversion makes: refs for branches and
// tags, and paths inside a branch's tree. The Subversion side, the survey
// and the verifier use them to check names before git ever sees them.
namespace GitNames {

// A branch name as a full ref: "refs/heads/" in front unless it starts with "refs/".
QByteArray refFor(const QByteArray &branch);
QByteArray refFor(const QString &branch);

// Whether git accepts the ref of a branch or tag name (refFor of it), by the
// rules of "git check-ref-format": no blank, control character, DEL, "~",
// "^", ":", "?", "*", "[" or "\\"; no "..", no "@{"; no component that begins
// with "." or ends with ".lock"; no empty component, no trailing "/" or ".".
// The name "@" alone is refused too, as git refuses it for a branch. Every
// ref the repositories make (branches, tags, their backups) derives from
// such a name, so a name that passes cannot kill fast-import.
bool isValidRefName(const QString &branch);

// A path inside a branch as git's trees name it: without leading slashes
// and without empty components, which fast-import refuses. Rules and
// prefixes produce both ("match /trunk" without its slash, "prefix sub//x/").
// A path that is only slashes, the branch root, becomes empty.
QString normalisedPath(const QString &path);

} // namespace GitNames
