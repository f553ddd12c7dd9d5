#include "survey/HistorySurvey.h"

#include "repository/FastImportStream.h"

#include <QSet>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include <svn_props.h>

namespace {

const int exampleLimit = 50;

bool isContainerName(const QString &component)
{
    return component == QLatin1String("trunk") || component == QLatin1String("branches")
            || component == QLatin1String("tags");
}

class ProgressLine
{
public:
    explicit ProgressLine(int latest) : m_latest(latest), m_shown(isatty(fileno(stderr))) {}
    ~ProgressLine()
    {
        if (m_shown)
            fprintf(stderr, "\r%*s\r", 60, "");
    }
    void show(int revision)
    {
        if (m_shown && (revision % 100 == 0 || revision == m_latest)) {
            fprintf(stderr, "\rReading revision %d of %d", revision, m_latest);
            fflush(stderr);
        }
    }

private:
    int m_latest;
    bool m_shown;
};

} // namespace

void HistorySurvey::Examples::add(const PathAtRevision &item)
{
    ++total;
    if (items.size() < exampleLimit)
        items.append(item);
}

Status HistorySurvey::run(ChangedPathsReader &reader)
{
    m_latestRevision = reader.latestRevision();
    ProgressLine progress(m_latestRevision);
    for (int revision = 1; revision <= m_latestRevision; ++revision) {
        progress.show(revision);
        Result<ChangedPathsReader::Revision> read = reader.read(revision);
        if (!read)
            return read.status();
        countAuthor(read.value().author, revision);
        for (const ChangedPathsReader::ChangedPath &change : read.value().changes)
            recordChange(reader, revision, change);
        const auto rootOf = [](const QString &path) { return placementOf(path).root; };
        if (Status merges = m_merges.readRevision(reader, read.value(), rootOf); !merges)
            return merges;
        if (Status attributes = m_attributes.readRevision(reader, read.value()); !attributes)
            return attributes;
    }
    return Status();
}

void HistorySurvey::countAuthor(const QByteArray &author, int revision)
{
    Author &entry = m_authors[author];
    ++entry.revisions;
    if (entry.firstRevision == -1)
        entry.firstRevision = revision;
    entry.lastRevision = revision;
}

HistorySurvey::Placement HistorySurvey::placementOf(const QString &path)
{
    // The first trunk, branches or tags component decides; one further down
    // (a "tags" directory inside trunk) is content.
    Placement placement;
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < components.size(); ++i) {
        if (!isContainerName(components.at(i)))
            continue;
        placement.project = components.mid(0, i).join(QLatin1Char('/'));
        placement.container = components.at(i);
        const int rootLength = placement.container == QLatin1String("trunk") ? i + 1 : i + 2;
        if (components.size() >= rootLength) {
            placement.root = QLatin1Char('/') + components.mid(0, rootLength).join(QLatin1Char('/'));
            placement.name = components.at(rootLength - 1);
        }
        break;
    }
    return placement;
}

HistorySurvey::BranchCandidate &HistorySurvey::candidateFor(const QString &path,
                                                            const Placement &placement)
{
    auto it = m_candidates.find(path);
    if (it != m_candidates.end())
        return it.value();
    BranchCandidate candidate;
    candidate.path = path;
    candidate.project = placement.project;
    candidate.name = placement.name;
    if (placement.root != path)
        candidate.kind = BranchKind::Other;
    else if (placement.container == QLatin1String("trunk"))
        candidate.kind = BranchKind::Trunk;
    else if (placement.container == QLatin1String("branches"))
        candidate.kind = BranchKind::Branch;
    else
        candidate.kind = BranchKind::Tag;
    if (candidate.kind == BranchKind::Other)
        candidate.name = path.section(QLatin1Char('/'), -1);
    return m_candidates.insert(path, candidate).value();
}

void HistorySurvey::recordChange(ChangedPathsReader &reader, int revision,
                                 const ChangedPathsReader::ChangedPath &change)
{
    const QString path = QString::fromUtf8(change.path);
    const Placement placement = placementOf(path);
    const bool deletion = change.kind == svn_fs_path_change_delete;
    const bool copied = !change.copyFromPath.isEmpty();

    if (!placement.container.isEmpty() && !deletion) {
        QStringList &containers = m_projects[placement.project];
        if (!containers.contains(placement.container)) {
            containers.append(placement.container);
            containers.sort();
        }
    }

    const bool isRoot = !placement.root.isEmpty() && placement.root == path;
    const bool otherCopy = placement.root.isEmpty() && copied && change.isDirectory;
    if (!deletion && (isRoot || otherCopy) && change.isDirectory) {
        BranchCandidate &candidate = candidateFor(path, placement);
        if (change.kind == svn_fs_path_change_add || change.kind == svn_fs_path_change_replace) {
            candidate.createdRevisions.append(revision);
            candidate.deletedRevision = -1;
            candidate.sourcePath = QString::fromUtf8(change.copyFromPath);
            candidate.sourceRevision = copied ? change.copyFromRevision : -1;
        }
    } else if (!placement.root.isEmpty() && !deletion
               && !m_candidates.contains(placement.root)) {
        // A branch that holds changes before its own directory was seen
        // (created together with its container, or with history loaded
        // from a partial dump).
        Placement rootPlacement = placementOf(placement.root);
        candidateFor(placement.root, rootPlacement).createdRevisions.append(revision);
    }

    if (deletion && change.isDirectory)
        markDeletedBelow(path, revision);
    markChanged(path, revision);

    if (copied && !placement.root.isEmpty()) {
        const QString source = QString::fromUtf8(change.copyFromPath);
        if (placementOf(source).root.isEmpty() && !m_candidates.contains(source))
            m_copiesFromOutside.add({path, revision, source, change.copyFromRevision, 0});
    }

    if (change.propertiesModified && !deletion) {
        if (reader.hasProperty(change.path, SVN_PROP_EXTERNALS))
            m_externals.add({path, revision, QString(), -1, 0});
        if (reader.hasProperty(change.path, SVN_PROP_MERGEINFO))
            m_mergeinfo.add({path, revision, QString(), -1, 0});
    }
    if (!deletion && !change.isDirectory && (change.textModified || copied))
        recordFileSize(path, revision, reader.fileLength(change.path));
}

void HistorySurvey::markDeletedBelow(const QString &directory, int revision)
{
    const QString below = directory + QLatin1Char('/');
    for (auto it = m_candidates.lowerBound(directory); it != m_candidates.end(); ++it) {
        if (it.key() != directory && !it.key().startsWith(below))
            break;
        if (it->deletedRevision == -1 && !it->createdRevisions.isEmpty())
            it->deletedRevision = revision;
    }
}

void HistorySurvey::markChanged(const QString &path, int revision)
{
    // The nearest candidate at or above the path holds the change.
    QString ancestor = path;
    while (!ancestor.isEmpty()) {
        auto it = m_candidates.find(ancestor);
        if (it != m_candidates.end()) {
            it->lastChangedRevision = revision;
            return;
        }
        ancestor.truncate(ancestor.lastIndexOf(QLatin1Char('/')));
    }
}

void HistorySurvey::recordFileSize(const QString &path, int revision, qint64 size)
{
    for (PathAtRevision &file : m_largestFiles) {
        if (file.path == path) {
            if (size > file.size) {
                file.size = size;
                file.revision = revision;
            }
            return;
        }
    }
    auto bySize = [](const PathAtRevision &a, const PathAtRevision &b) { return a.size > b.size; };
    if (m_largestFiles.size() < largestFileCount) {
        m_largestFiles.append({path, revision, QString(), -1, size});
    } else if (size > m_largestFiles.last().size) {
        m_largestFiles.last() = {path, revision, QString(), -1, size};
    } else {
        return;
    }
    std::stable_sort(m_largestFiles.begin(), m_largestFiles.end(), bySize);
}

QList<HistorySurvey::BranchCandidate> HistorySurvey::refusedNames() const
{
    QList<BranchCandidate> refused;
    for (const BranchCandidate &candidate : m_candidates) {
        if ((candidate.kind == BranchKind::Branch || candidate.kind == BranchKind::Tag)
            && !FastImportStream::isValidRefName(refNameOf(candidate)))
            refused.append(candidate);
    }
    return refused;
}

QString HistorySurvey::refNameOf(const BranchCandidate &candidate)
{
    if (candidate.kind == BranchKind::Trunk)
        return QStringLiteral("master");
    if (candidate.kind == BranchKind::Tag)
        return QLatin1String("refs/tags/") + candidate.name;
    return candidate.name;
}

QString HistorySurvey::kindName(BranchKind kind)
{
    switch (kind) {
    case BranchKind::Trunk:
        return QStringLiteral("trunk");
    case BranchKind::Branch:
        return QStringLiteral("branch");
    case BranchKind::Tag:
        return QStringLiteral("tag");
    case BranchKind::Other:
        break;
    }
    return QStringLiteral("other");
}
