#pragma once

#include <QByteArray>

// The line that tells where a git commit or tag came from in Subversion:
// "svn path=<prefix>; revision=<n>[; tag=<name>]" and a line feed.
QByteArray formatMetadata(const QByteArray &svnPrefix, int revision,
                          const QByteArray &tag = QByteArray());

// The line for revisions merged from a Subversion path that gave the commit
// no parent (a cherry-pick): "svn cherry-pick=<path>:<ranges>" and a line
// feed, the ranges written as mergeinfo writes them ("3-5,9").
QByteArray formatCherryPick(const QByteArray &sourcePath, const QByteArray &ranges);

// A commit's or tag's message as the converter writes it, before any
// --msg-filter: the Subversion log ending in a line feed, then, when there is
// metadata, a blank line and the metadata.
QByteArray messageWithMetadata(const QByteArray &logMessage, const QByteArray &metadata);
