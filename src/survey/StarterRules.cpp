#include "survey/StarterRules.h"

#include "repository/FastImportStream.h"
#include "rules/Substitution.h"
#include "survey/HistorySurvey.h"

#include <QRegExp>
#include <QRegularExpression>
#include <QTextStream>

namespace {

using BranchKind = HistorySurvey::BranchKind;

// Rewrites that turn what git refuses in a ref name into what it takes, in
// the order they are applied. Only those a name of the history needs are
// written into the rules.
const char *const nameRepairs[] = {
    "s/ /_/",          "s/~/_/",       "s/\\^/_/",      "s/:/_/",       "s/\\?/_/",
    "s/\\*/_/",        "s/\\[/_/",     "s/\\\\/_/",     "s/\\.\\.+/./", "s/@\\{/@_/",
    "s/[\\x0001-\\x001f\\x007f]/_/",   "s/\\.lock$/_lock/",
    "s,/\\.,/_,",      "s/^\\./_/",    "s/\\.$/_/",     "s/^@$/_at_/",
};

// A directory name as a match pattern that matches exactly it. A "#" cannot
// stand in a rules line, which ends at the first one.
QString patternFor(const QString &directory)
{
    return QRegExp::escape(directory).replace(QLatin1Char('#'), QLatin1String("\\x0023"));
}

QStringList repairsFor(const QList<HistorySurvey::BranchCandidate> &refused, BranchKind kind,
                       const QString &project, QStringList *unrepaired)
{
    QStringList wanted;
    QStringList names;
    for (const HistorySurvey::BranchCandidate &candidate : refused) {
        if (candidate.kind == kind && candidate.project == project)
            names.append(HistorySurvey::refNameOf(candidate));
    }
    for (const char *repair : nameRepairs) {
        const Substitution substitution = parseSubstitution(QString::fromLatin1(repair));
        for (const QString &name : qAsConst(names)) {
            if (substitution.apply(name) != name) {
                wanted.append(QString::fromLatin1(repair));
                break;
            }
        }
    }
    for (const QString &name : qAsConst(names)) {
        QString repaired = name;
        for (const QString &repair : qAsConst(wanted))
            repaired = parseSubstitution(repair).apply(repaired);
        if (!FastImportStream::isValidRefName(repaired))
            unrepaired->append(name);
    }
    return wanted;
}

void writeRule(QTextStream &out, const QString &pattern, const QString &repository,
               const QString &branch, const QStringList &repairs, bool annotated)
{
    out << "match " << pattern << "\n";
    out << "  repository " << repository << "\n";
    out << "  branch " << branch << "\n";
    for (const QString &repair : repairs)
        out << "  substitute branch " << repair << "\n";
    if (annotated)
        out << "  annotated true\n";
    out << "end match\n\n";
}

} // namespace

QString StarterRules::repositoryNameFor(const QString &project, const QString &singleProjectName)
{
    QString name = project.isEmpty() ? singleProjectName : project;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QRegularExpression(QStringLiteral("[\\s#]")), QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("repository") : name;
}

QString StarterRules::write(const HistorySurvey &survey, const QString &singleProjectName)
{
    QString text;
    QTextStream out(&text);
    out << "# Starter rules written by tallowmere-survey from revisions 1 to "
        << survey.latestRevision() << ".\n"
        << "# Review them, then check them with: tallowmere-survey --check-rules FILE SVNREPO\n\n";

    const QList<HistorySurvey::BranchCandidate> refused = survey.refusedNames();
    QStringList unrepaired;
    for (auto it = survey.projects().cbegin(); it != survey.projects().cend(); ++it) {
        const QString project = it.key();
        const QString repository = repositoryNameFor(project, singleProjectName);
        const QString base = project.isEmpty() ? QStringLiteral("/")
                                               : QLatin1Char('/') + patternFor(project)
                                                       + QLatin1Char('/');
        out << "create repository " << repository << "\nend repository\n\n";
        if (it.value().contains(QLatin1String("trunk")))
            writeRule(out, base + QLatin1String("trunk/"), repository, QStringLiteral("master"),
                      QStringList(), false);
        if (it.value().contains(QLatin1String("branches")))
            writeRule(out, base + QLatin1String("branches/([^/]+)/"), repository,
                      QStringLiteral("\\1"),
                      repairsFor(refused, BranchKind::Branch, project, &unrepaired), false);
        if (it.value().contains(QLatin1String("tags")))
            writeRule(out, base + QLatin1String("tags/([^/]+)/"), repository,
                      QStringLiteral("refs/tags/\\1"),
                      repairsFor(refused, BranchKind::Tag, project, &unrepaired), true);
    }

    for (const QString &name : qAsConst(unrepaired))
        out << "# Needs a substitution of its own: " << name << "\n";
    QStringList elsewhere;
    for (const HistorySurvey::BranchCandidate &candidate : survey.candidates()) {
        if (candidate.kind == BranchKind::Other)
            elsewhere.append(candidate.path);
    }
    if (!elsewhere.isEmpty()) {
        out << "# Directories copied outside trunk, branches and tags, left out below:\n";
        const QStringList shown = elsewhere.mid(0, 50);
        for (const QString &path : shown)
            out << "#   " << path << "\n";
        if (elsewhere.size() > 50)
            out << "#   and " << elsewhere.size() - 50 << " more\n";
    }
    out << "# Everything the rules above do not cover is left out of the conversion.\n"
        << "match /\nend match\n";
    out.flush();
    return text;
}
