#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds Subversion dump text for svnadmin load, one revision at a time.
class DumpBuilder
{
public:
    DumpBuilder();
    void revision(int number, const QByteArray &author, const QByteArray &log);
    // A revision with exactly these properties (none, or some left out).
    void revision(int number, const QList<QPair<QByteArray, QByteArray>> &properties);
    void addDirectory(const QByteArray &path);
    void copyDirectory(const QByteArray &path, const QByteArray &from, int fromRevision);
    void putFile(const QByteArray &path, const QByteArray &text, bool change = false);
    void remove(const QByteArray &path);
    const QByteArray &text() const { return m_text; }

private:
    QByteArray m_text;
};

// Rules that put /trunk/ of Subversion into branch master of one repository.
QByteArray trunkRulesFor(const QByteArray &repository);

QByteArray dumpProperties(const QList<QPair<QByteArray, QByteArray>> &properties);

// Creates a repository at path from dump text; true on success.
bool loadDump(const QString &path, const QByteArray &dump);

// Refs, tag objects and notes of a git repository, one line each.
QStringList snapshotOf(const QString &gitRepository);
