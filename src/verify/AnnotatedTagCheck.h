#pragma once

#include "common/Failure.h"
#include "verify/Difference.h"

#include <QByteArray>
#include <QList>
#include <QString>

class BranchTrees;
class GitObjectReader;
class ConversionLog;
class MetadataCheck;
class RefCheck;

// Every branch that a rule with "annotated true" sends, alive at the end of
// the range, must have a tag object, not a plain ref, named after it, with
// the tagger, date and message the converter writes for its last recorded
// revision.
class AnnotatedTagCheck
{
public:
    AnnotatedTagCheck(BranchTrees &branchTrees, MetadataCheck &metadata)
        : m_branchTrees(branchTrees), m_metadata(metadata)
    {
    }

    Status check(const QString &repository, ConversionLog &log, const RefCheck &refs,
                 QList<Difference> *out);
    // With --empty-dirs a tag made as an empty directory, which holds only
    // its placeholder, is a plain ref.
    void setEmptyDirs(bool emptyDirs) { m_emptyDirs = emptyDirs; }

private:
    bool onlyPlaceholder(const GitObjectReader &reader, const QByteArray &commit) const;

    BranchTrees &m_branchTrees;
    MetadataCheck &m_metadata;
    bool m_emptyDirs = false;
};
