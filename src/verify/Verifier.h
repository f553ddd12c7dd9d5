#pragma once

#include "verify/Difference.h"
#include "verify/SvnTreeRouter.h"

#include <QList>
#include <QSet>
#include <QString>

class ConversionLog;
class GitObjectReader;

// Checks a conversion in the current directory against the Subversion
// repository it was made from: every recorded branch state, every ref and
// every annotated tag.
class Verifier
{
public:
    struct Options
    {
        QString rulesFiles;
        QString svnRepository;
        QString onlyRepository;
        bool headsOnly = false;
        int sample = 0; // 0: every state
        bool svnIgnore = false;
        bool svnAttributes = false;
        bool emptyDirs = false;
        bool svnMergeinfo = false; // check the parents of every recorded commit too
        bool json = false;
    };

    explicit Verifier(const Options &options);

    // 0 when all is equal, 1 when something differs, 2 when the check cannot run.
    int run();

private:
    struct Checked
    {
        int states = 0;
        int repositories = 0;
        QSet<QString> branches;
        QSet<QString> tags;
    };

    static QHash<QString, QByteArray> readRefs(const QString &repository,
                                               QHash<QString, bool> *annotated);
    void compareTree(const TreeNodePointer &expected, const QByteArray &gitTree,
                     const GitObjectReader &reader, const Difference &where);
    void checkRefs(const QString &repository, const ConversionLog &log);
    void report(const Checked &checked) const;

    Options m_options;
    QList<Difference> m_differences;
};
