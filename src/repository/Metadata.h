#pragma once

#include <QByteArray>

// The line that tells where a git commit or tag came from in Subversion:
// "svn path=<prefix>; revision=<n>[; tag=<name>]" and a line feed.
QByteArray formatMetadata(const QByteArray &svnPrefix, int revision,
                          const QByteArray &tag = QByteArray());
