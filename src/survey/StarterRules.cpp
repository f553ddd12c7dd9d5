#include "survey/StarterRules.h"

#include "repository/GitNames.h"
#include "rules/Substitution.h"
#include "survey/HistorySurvey.h"

#include <QRegExp>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <algorithm>

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
        if (!GitNames::isValidRefName(repaired))
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

void writeRecurse(QTextStream &out, const QString &pattern)
{
    out << "match " << pattern << "\n  action recurse\nend match\n\n";
}

// A ref name no other branch of the repository has, and none that holds
// another one as a directory (git keeps "a" and "a/b" apart only as files).
QString uniqueName(const QString &wanted, QSet<QString> *taken)
{
    auto clashes = [taken](const QString &name) {
        for (const QString &other : qAsConst(*taken)) {
            if (other == name || other.startsWith(name + QLatin1Char('/'))
                || name.startsWith(other + QLatin1Char('/')))
                return true;
        }
        return false;
    };
    QString name = wanted;
    for (int suffix = 2; clashes(name); ++suffix)
        name = wanted + QLatin1Char('-') + QString::number(suffix);
    taken->insert(name);
    return name;
}

QString repairedName(QString name)
{
    for (const char *repair : nameRepairs) {
        if (GitNames::isValidRefName(name))
            break;
        name = parseSubstitution(QString::fromLatin1(repair)).apply(name);
    }
    return name;
}

class Writer
{
public:
    Writer(const HistorySurvey &survey, const QString &singleProjectName,
           const QString &defaultBranch)
        : m_survey(survey), m_single(singleProjectName), m_default(defaultBranch),
          m_refused(survey.refusedNames()), m_out(&m_text)
    {
    }
    QString write();

private:
    void writeProject(const QString &project, const QStringList &containers);
    void writeContainer(const QString &project, const QString &base, const QString &container,
                        const QString &repository);
    void writeBranchCopies();
    void writeWholeRepository();
    void writeLeftOut();
    QSet<QString> &namesOf(const QString &repository);
    bool hasBranchNamed(const QString &project, const QString &name) const;

    const HistorySurvey &m_survey;
    QString m_single;
    QString m_default;
    QList<HistorySurvey::BranchCandidate> m_refused;
    QStringList m_unrepaired;
    QHash<QString, QSet<QString>> m_names; // repository -> branch names
    QString m_text;
    QTextStream m_out;
};

bool Writer::hasBranchNamed(const QString &project, const QString &name) const
{
    for (const HistorySurvey::BranchCandidate &candidate : m_survey.candidates()) {
        if (candidate.kind == BranchKind::Branch && candidate.project == project
            && candidate.name == name)
            return true;
    }
    return false;
}

QSet<QString> &Writer::namesOf(const QString &repository)
{
    auto it = m_names.find(repository);
    if (it != m_names.end())
        return it.value();
    QSet<QString> names{m_default};
    for (const HistorySurvey::BranchCandidate &candidate : m_survey.candidates()) {
        if (candidate.kind == BranchKind::Branch
            && StarterRules::repositoryNameFor(candidate.project, m_single) == repository)
            names.insert(candidate.name);
    }
    return m_names.insert(repository, names).value();
}

QString Writer::write()
{
    m_out << "# Starter rules written by tallowmere-survey from revisions 1 to "
          << m_survey.latestRevision() << ".\n"
          << "# Review them, then check them with: tallowmere-survey --check-rules FILE SVNREPO\n\n";
    if (!m_survey.hasLayout()) {
        writeWholeRepository();
        m_out.flush();
        return m_text;
    }
    for (auto it = m_survey.projects().cbegin(); it != m_survey.projects().cend(); ++it)
        writeProject(it.key(), it.value());
    writeBranchCopies();
    writeLeftOut();
    m_out << "# Everything the rules above do not cover is left out of the conversion.\n"
          << "match /\nend match\n";
    m_out.flush();
    return m_text;
}

void Writer::writeWholeRepository()
{
    const QString repository = StarterRules::repositoryNameFor(QString(), m_single);
    m_out << "create repository " << repository << "\nend repository\n\n"
          << "# No trunk, branches or tags directory anywhere: the whole repository\n"
          << "# becomes one branch.\n";
    writeRule(m_out, QStringLiteral("/"), repository, m_default, QStringList(), false);
}

void Writer::writeProject(const QString &project, const QStringList &containers)
{
    const QString repository = StarterRules::repositoryNameFor(project, m_single);
    const QString base = project.isEmpty() ? QStringLiteral("/")
                                           : QLatin1Char('/') + patternFor(project)
                                                   + QLatin1Char('/');
    m_out << "create repository " << repository << "\nend repository\n\n";
    if (containers.contains(QLatin1String("trunk")))
        writeRule(m_out, base + QLatin1String("trunk/"), repository, m_default, QStringList(),
                  false);
    for (const char *container : {"branches", "tags"}) {
        if (containers.contains(QLatin1String(container)))
            writeContainer(project, base, QLatin1String(container), repository);
    }
    m_out << "# Deleting or copying a directory that holds branches reaches each of them.\n";
    writeRecurse(m_out, base + QLatin1String("(branches|tags)/$"));
    if (!project.isEmpty())
        writeRecurse(m_out, base + QLatin1Char('$'));
}

void Writer::writeContainer(const QString &project, const QString &base, const QString &container,
                            const QString &repository)
{
    const bool tags = container == QLatin1String("tags");
    const BranchKind kind = tags ? BranchKind::Tag : BranchKind::Branch;
    const QString refPrefix = tags ? QStringLiteral("refs/tags/") : QString();
    QStringList repairs = repairsFor(m_refused, kind, project, &m_unrepaired);

    // Deeper nested containers first, so that their entries are not taken
    // for branches of the one above.
    const QString containerPath = QLatin1Char('/') + (project.isEmpty() ? container
                                                      : project + QLatin1Char('/') + container)
            + QLatin1Char('/');
    QStringList nested;
    for (const QString &path : m_survey.nestedContainers()) {
        if (path.startsWith(containerPath))
            nested.append(path);
    }
    std::sort(nested.begin(), nested.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    const bool hasTrunk = m_survey.projects().value(project).contains(QLatin1String("trunk"));
    for (const QString &path : qAsConst(nested)) {
        const QString inner = path.mid(containerPath.size());
        const QString pattern = base + container + QLatin1Char('/') + patternFor(inner);
        // git cannot hold the ref master beside master/1.0.
        QString names = inner;
        if (!tags && hasTrunk && inner.section(QLatin1Char('/'), 0, 0) == m_default)
            names = QLatin1String("branches-") + inner;
        m_out << "# " << path << " holds " << (tags ? "tags" : "branches")
              << " of its own: " << names << "/NAME.\n";
        writeRule(m_out, pattern + QLatin1String("/([^/]+)/"), repository,
                  refPrefix + names + QLatin1String("/\\1"), repairs, tags);
        writeRecurse(m_out, pattern + QLatin1String("/$"));
        m_out << "match " << pattern << "/\nend match\n\n";
    }

    if (!tags && hasTrunk && hasBranchNamed(project, m_default)) {
        const QString renamed = uniqueName(QLatin1String("branches-") + m_default,
                                           &namesOf(repository));
        m_out << "# " << containerPath << m_default << " would write the ref of trunk ("
              << m_default << "): it becomes " << renamed << ".\n";
        repairs.prepend(QStringLiteral("s/^%1$/%2/").arg(QRegExp::escape(m_default), renamed));
    }
    writeRule(m_out, base + container + QLatin1String("/([^/]+)/"), repository,
              refPrefix + QLatin1String("\\1"), repairs, tags);
}

void Writer::writeBranchCopies()
{
    for (const HistorySurvey::BranchCandidate &candidate : m_survey.candidates()) {
        if (candidate.kind != BranchKind::Other)
            continue;
        const QString pattern = patternFor(candidate.path);
        if (candidate.branchCopy) {
            const QString repository =
                    StarterRules::repositoryNameFor(candidate.project, m_single);
            const QString name = uniqueName(repairedName(candidate.path.mid(1)),
                                            &namesOf(repository));
            m_out << "# " << candidate.path << " was made by copying the branch "
                  << candidate.sourcePath << " (r" << candidate.createdRevisions.constLast()
                  << ").\n";
            writeRule(m_out, pattern + QLatin1Char('/'), repository, name, QStringList(), false);
        } else if (candidate.holdsBranches && !m_survey.projects().contains(candidate.path.mid(1))) {
            m_out << "# " << candidate.path << " holds copies of branches.\n";
            writeRecurse(m_out, pattern + QLatin1String("/$"));
        }
    }
}

void Writer::writeLeftOut()
{
    for (const QString &name : qAsConst(m_unrepaired))
        m_out << "# Needs a substitution of its own: " << name << "\n";
    QStringList elsewhere;
    for (const HistorySurvey::BranchCandidate &candidate : m_survey.candidates()) {
        if (candidate.kind == BranchKind::Other && !candidate.branchCopy
            && !candidate.holdsBranches && !m_survey.projects().contains(candidate.path.mid(1)))
            elsewhere.append(candidate.path);
    }
    if (elsewhere.isEmpty())
        return;
    m_out << "# Directories copied outside trunk, branches and tags, left out below:\n";
    const QStringList shown = elsewhere.mid(0, 50);
    for (const QString &path : shown)
        m_out << "#   " << path << "\n";
    if (elsewhere.size() > 50)
        m_out << "#   and " << elsewhere.size() - 50 << " more\n";
}

} // namespace

QString StarterRules::repositoryNameFor(const QString &project, const QString &singleProjectName)
{
    QString name = project.isEmpty() ? singleProjectName : project;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QRegularExpression(QStringLiteral("[\\s#]")), QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("repository") : name;
}

QString StarterRules::write(const HistorySurvey &survey, const QString &singleProjectName,
                           const QString &defaultBranch)
{
    return Writer(survey, singleProjectName, defaultBranch).write();
}
