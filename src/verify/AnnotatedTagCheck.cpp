#include "verify/AnnotatedTagCheck.h"

#include "repository/GitObjectReader.h"
#include "verify/BranchTrees.h"
#include "verify/ConversionLog.h"
#include "verify/MetadataCheck.h"
#include "verify/RefCheck.h"

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
