#include "survey/SurveyReport.h"

#include "survey/HistorySurvey.h"

#include <QJsonArray>
#include <QTextStream>

namespace {

using Candidate = HistorySurvey::BranchCandidate;

QString revisionList(const QList<int> &revisions)
{
    QStringList texts;
    for (int revision : revisions)
        texts.append(QString::number(revision));
    return texts.join(QLatin1Char(','));
}

QStringList sorted(const QSet<QString> &paths)
{
    QStringList list = paths.values();
    list.sort();
    return list;
}

QString projectTitle(const QString &project)
{
    return project.isEmpty() ? QStringLiteral("(top level)") : QLatin1Char('/') + project;
}

QString describe(const Candidate &candidate)
{
    QString text = QStringLiteral("  %1 %2: made r%3")
                           .arg(HistorySurvey::kindName(candidate.kind), -6)
                           .arg(candidate.path, revisionList(candidate.createdRevisions));
    if (!candidate.sourcePath.isEmpty())
        text += QStringLiteral(" from %1@%2").arg(candidate.sourcePath).arg(candidate.sourceRevision);
    if (candidate.lastChangedRevision != -1)
        text += QStringLiteral(", last changed r%1").arg(candidate.lastChangedRevision);
    if (candidate.deletedRevision != -1)
        text += QStringLiteral(", deleted r%1").arg(candidate.deletedRevision);
    if (candidate.branchCopy)
        text += QStringLiteral(", a branch copy");
    return text;
}

void writeExamples(QTextStream &out, const QString &title, const HistorySurvey::Examples &examples,
                   bool withSource)
{
    out << "\n" << title << ": " << examples.total << "\n";
    for (const HistorySurvey::PathAtRevision &item : examples.items) {
        out << "  " << item.path << "@" << item.revision;
        if (withSource)
            out << " from " << item.source << "@" << item.sourceRevision;
        out << "\n";
    }
    if (examples.total > examples.items.size())
        out << "  and " << examples.total - examples.items.size() << " more\n";
}

QJsonArray examplesJson(const HistorySurvey::Examples &examples, bool withSource)
{
    QJsonArray array;
    for (const HistorySurvey::PathAtRevision &item : examples.items) {
        QJsonObject object{{"path", item.path}, {"revision", item.revision}};
        if (withSource) {
            object.insert("source", item.source);
            object.insert("sourceRevision", item.sourceRevision);
        }
        array.append(object);
    }
    return array;
}

} // namespace

QString SurveyReport::text(const HistorySurvey &survey)
{
    QString text;
    QTextStream out(&text);
    out << "Revisions: 1 to " << survey.latestRevision() << "\n";

    out << "\nLayout:\n";
    if (!survey.hasLayout())
        out << "  no trunk, branches or tags directory: the starter rules convert the whole "
               "repository into one branch\n";
    for (auto it = survey.projects().cbegin(); it != survey.projects().cend(); ++it)
        out << "  " << projectTitle(it.key()) << ": " << it.value().join(QLatin1String(", "))
            << "\n";
    for (const QString &path : sorted(survey.nestedContainers()))
        out << "  " << path << ": holds branches of its own\n";

    out << "\nBranch and tag candidates: " << survey.candidates().size() << "\n";
    for (const Candidate &candidate : survey.candidates())
        out << describe(candidate) << "\n";

    out << "\nAuthors: " << survey.authors().size() << "\n";
    for (auto it = survey.authors().cbegin(); it != survey.authors().cend(); ++it) {
        const QString name = it.key().isEmpty() ? QStringLiteral("(no author)")
                                                : QString::fromUtf8(it.key());
        out << "  " << name << ": " << it->revisions << " revisions, r" << it->firstRevision
            << " to r" << it->lastRevision << "\n";
    }

    out << "\nTo decide:\n";
    const QList<Candidate> refused = survey.refusedNames();
    out << "\nNames git refuses as ref names: " << refused.size() << "\n";
    for (const Candidate &candidate : refused)
        out << "  " << candidate.path << " (" << HistorySurvey::refNameOf(candidate) << ")\n";
    writeExamples(out, QStringLiteral("svn:externals (not converted)"), survey.externals(), false);
    writeExamples(out, QStringLiteral("svn:mergeinfo (not converted)"), survey.mergeinfo(), false);
    survey.merges().writeText(out);
    survey.attributes().writeText(out);
    writeExamples(out, QStringLiteral("Copies into branches from paths outside any branch"),
                  survey.copiesFromOutside(), true);
    out << "\nLargest files:\n";
    for (const HistorySurvey::PathAtRevision &file : survey.largestFiles())
        out << "  " << file.size << " bytes " << file.path << "@" << file.revision << "\n";
    out.flush();
    return text;
}

QJsonObject SurveyReport::json(const HistorySurvey &survey)
{
    QJsonObject layout;
    for (auto it = survey.projects().cbegin(); it != survey.projects().cend(); ++it)
        layout.insert(it.key(), QJsonArray::fromStringList(it.value()));

    QJsonArray candidates;
    for (const Candidate &candidate : survey.candidates()) {
        QJsonArray created;
        for (int revision : candidate.createdRevisions)
            created.append(revision);
        candidates.append(QJsonObject{
                {"path", candidate.path},
                {"kind", HistorySurvey::kindName(candidate.kind)},
                {"project", candidate.project},
                {"name", candidate.name},
                {"createdRevisions", created},
                {"lastChangedRevision", candidate.lastChangedRevision},
                {"deletedRevision", candidate.deletedRevision},
                {"source", candidate.sourcePath},
                {"sourceRevision", candidate.sourceRevision},
                {"branchCopy", candidate.branchCopy},
        });
    }

    QJsonArray authors;
    for (auto it = survey.authors().cbegin(); it != survey.authors().cend(); ++it)
        authors.append(QJsonObject{{"name", QString::fromUtf8(it.key())},
                                   {"revisions", it->revisions},
                                   {"firstRevision", it->firstRevision},
                                   {"lastRevision", it->lastRevision}});

    QJsonArray refused;
    for (const Candidate &candidate : survey.refusedNames())
        refused.append(QJsonObject{{"path", candidate.path},
                                   {"refName", HistorySurvey::refNameOf(candidate)}});
    QJsonArray largest;
    for (const HistorySurvey::PathAtRevision &file : survey.largestFiles())
        largest.append(QJsonObject{
                {"path", file.path}, {"revision", file.revision}, {"size", double(file.size)}});

    return QJsonObject{
            {"latestRevision", survey.latestRevision()},
            {"layout", layout},
            {"nestedContainers", QJsonArray::fromStringList(sorted(survey.nestedContainers()))},
            {"candidates", candidates},
            {"authors", authors},
            {"refusedNames", refused},
            {"externals", examplesJson(survey.externals(), false)},
            {"externalsTotal", survey.externals().total},
            {"mergeinfo", examplesJson(survey.mergeinfo(), false)},
            {"mergeinfoTotal", survey.mergeinfo().total},
            {"mergeinfoMerges", survey.merges().json()},
            {"lineEndsAndBinaries", survey.attributes().json()},
            {"copiesFromOutside", examplesJson(survey.copiesFromOutside(), true)},
            {"copiesFromOutsideTotal", survey.copiesFromOutside().total},
            {"largestFiles", largest},
    };
}
