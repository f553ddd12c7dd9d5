#include "verify/AnnotatedTagCheck.h"

#include "repository/GitObjectReader.h"
#include "verify/BranchTrees.h"
#include "verify/ConversionLog.h"
#include "verify/MetadataCheck.h"
#include "verify/RefCheck.h"

#include <QCryptographicHash>

Status AnnotatedTagCheck::check(const QString &repository, ConversionLog &log,
                                const RefCheck &refs, QList<Difference> *out)
{
    const GitObjectReader reader(repository);
    for (const ConversionLog::State &state : log.lastStates()) {
        const SvnTreeRouter::Fragment *fragment =
                m_branchTrees.firstFragment(repository, state.branch);
        if (state.mark == 0 || !fragment || !fragment->rule || !fragment->rule->annotated)
            continue;
        const QString tagName = state.branch.startsWith(QLatin1String("refs/tags/"))
                ? state.branch.mid(10)
                : state.branch;
        const QString ref = QStringLiteral("refs/tags/") + tagName;
        Difference where{state.revision, repository, state.branch, ref, QStringLiteral("tag"),
                         QString()};
        const QByteArray object = refs.tagObject(ref);
        if (object.isEmpty() && m_emptyDirs && onlyPlaceholder(reader, refs.refs().value(ref)))
            continue;
        if (object.isEmpty()) {
            where.detail = refs.refs().contains(ref)
                    ? QStringLiteral("a plain ref, the rule makes an annotated tag")
                    : QStringLiteral("missing in git");
            out->append(where);
            continue;
        }
        const QByteArray content = reader.contentsOfType("tag", {object}).value(object);
        if (Status checked = m_metadata.checkTag(where, fragment->svnPrefix.toUtf8(),
                                                 tagName.toUtf8(), content, out);
            !checked)
            return checked;
    }
    return Status();
}

// Whether commit's tree holds nothing but an empty .gitignore.
bool AnnotatedTagCheck::onlyPlaceholder(const GitObjectReader &reader,
                                        const QByteArray &commit) const
{
    if (commit.isEmpty())
        return false;
    const QByteArray entry = QByteArray("100644 .gitignore") + '\0'
            + QByteArray::fromHex("e69de29bb2d1d6434b8b29ae775ad8c2e48c5391");
    const QByteArray tree =
            QCryptographicHash::hash("tree " + QByteArray::number(entry.size()) + '\0' + entry,
                                     QCryptographicHash::Sha1);
    const QByteArray content = reader.contentsOfType("commit", {commit}).value(commit);
    return content.startsWith("tree " + tree.toHex() + '\n');
}
