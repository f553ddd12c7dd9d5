#include "survey/HistorySurvey.h"

#include "common/ProgressLine.h"
#include "repository/GitNames.h"

#include <QSet>

#include <algorithm>

#include <svn_props.h>

namespace {

const int exampleLimit = 50;

bool isContainerName(const QString &component)
{
    return component == QLatin1String("trunk") || component == QLatin1String("branches")
            || component == QLatin1String("tags");
}

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
    // "Reading revision N of LATEST" every hundred revisions and at the last.
    ProgressLine progress(ProgressLine::overwriting);
    for (int revision = 1; revision <= m_latestRevision; ++revision) {
        if (revision % 100 == 0 || revision == m_latestRevision)
            progress.show("Reading revision " + QByteArray::number(revision) + " of "
                          + QByteArray::number(m_latestRevision));
        Result<ChangedPathsReader::Revision> read = reader.read(revision);
        if (!read)
            return read.status();
        countAuthor(read.value().author, revision);
        for (const ChangedPathsReader::ChangedPath &change : read.value().changes)
            recordChange(reader, revision, change);
        const auto rootOf = [this](const QString &path) { return placementOf(path).root; };
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

HistorySurvey::Placement HistorySurvey::placementOf(const QString &path) const
{
    // The first trunk, branches or tags component decides; one further down
    // (a "tags" directory inside trunk) is content.
    Placement placement;
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    auto rootOf = [&components](int length) {
        return QLatin1Char('/') + components.mid(0, length).join(QLatin1Char('/'));
    };
    for (int i = 0; i < components.size(); ++i) {
        if (!isContainerName(components.at(i)))
            continue;
        placement.project = components.mid(0, i).join(QLatin1Char('/'));
        placement.container = components.at(i);
        const bool trunk = placement.container == QLatin1String("trunk");
        int rootLength = trunk ? i + 1 : i + 2;
        // A nested container hands the branch down to its entries; itself
        // it is no branch.
        while (!trunk && components.size() >= rootLength
               && m_nestedContainers.contains(rootOf(rootLength))) {
            if (components.size() == rootLength)
                return placement;
            ++rootLength;
        }
        if (components.size() >= rootLength) {
            placement.root = rootOf(rootLength);
            placement.name = trunk ? placement.container
                                   : components.mid(i + 1, rootLength - i - 1).join(QLatin1Char('/'));
        }
        break;
    }
    return placement;
}

bool HistorySurvey::BranchCandidate::existsAt(int revision) const
{
    int made = -1;
    for (int created : createdRevisions) {
        if (created <= revision)
            made = std::max(made, created);
    }
    if (made == -1)
        return false;
    for (int deleted : deletedRevisions) {
        if (deleted > made && deleted <= revision)
            return false;
    }
    return true;
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

void HistorySurvey::noteContainer(const Placement &placement)
{
    if (placement.container.isEmpty())
        return;
    QStringList &containers = m_projects[placement.project];
    if (!containers.contains(placement.container)) {
        containers.append(placement.container);
        containers.sort();
    }
}

const HistorySurvey::BranchCandidate *HistorySurvey::branchAt(const QString &path,
                                                              int revision) const
{
    auto it = m_candidates.find(path);
    if (it == m_candidates.end() || !it->existsAt(revision))
        return nullptr;
    if (it->kind == BranchKind::Other && !it->branchCopy)
        return nullptr;
    return &it.value();
}

bool HistorySurvey::insideBranchCopy(const QString &path) const
{
    for (QString ancestor = path.left(path.lastIndexOf(QLatin1Char('/'))); !ancestor.isEmpty();
         ancestor.truncate(ancestor.lastIndexOf(QLatin1Char('/')))) {
        auto it = m_candidates.find(ancestor);
        if (it != m_candidates.end() && it->branchCopy && it->deletedRevision == -1)
            return true;
    }
    return false;
}

bool HistorySurvey::becomesNestedContainer(const QString &path, const Placement &placement,
                                           const ChangedPathsReader::ChangedPath &change)
{
    // branches/releases made by mkdir, then branches/releases/1.0 copied
    // from trunk: releases holds branches and is none itself. A branch made
    // by mkdir that already holds files stays one.
    const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (placement.root != parent || placement.container == QLatin1String("trunk")
        || !branchAt(QString::fromUtf8(change.copyFromPath), change.copyFromRevision))
        return false;
    auto it = m_candidates.find(parent);
    if (it == m_candidates.end() || !it->sourcePath.isEmpty() || it->holdsFiles
        || (it->kind != BranchKind::Branch && it->kind != BranchKind::Tag))
        return false;
    m_candidates.erase(it);
    m_nestedContainers.insert(parent);
    return true;
}

void HistorySurvey::copyBranchesBelow(const QString &path, int revision, const QString &source,
                                      int sourceRevision)
{
    // The branches a copied directory holds are made by that copy.
    const QString sourceBelow = source + QLatin1Char('/');
    for (const QString &nested : QSet<QString>(m_nestedContainers)) {
        if (nested.startsWith(sourceBelow))
            m_nestedContainers.insert(path + nested.mid(source.size()));
    }
    for (auto it = m_projects.cbegin(); it != m_projects.cend(); ++it) {
        const QString project = QLatin1Char('/') + it.key();
        if (project == source || project.startsWith(sourceBelow)) {
            const QString copied = path + project.mid(source.size());
            if (placementOf(copied).container.isEmpty())
                m_projects.insert(copied.mid(1), it.value());
        }
    }
    QList<BranchCandidate> held;
    for (auto it = m_candidates.lowerBound(sourceBelow);
         it != m_candidates.end() && it.key().startsWith(sourceBelow); ++it) {
        if (branchAt(it.key(), sourceRevision))
            held.append(it.value());
    }
    for (const BranchCandidate &branch : qAsConst(held)) {
        const QString copied = path + branch.path.mid(source.size());
        const Placement placement = placementOf(copied);
        if (!placement.container.isEmpty() && placement.root != copied)
            continue; // content of a branch
        BranchCandidate &candidate = candidateFor(copied, placement);
        candidate.createdRevisions.append(revision);
        candidate.deletedRevision = -1;
        candidate.sourcePath = branch.path;
        candidate.sourceRevision = sourceRevision;
        if (placement.container.isEmpty()) {
            candidate.branchCopy = true;
            candidate.project = branch.project;
        }
        if (m_candidates.contains(path))
            m_candidates[path].holdsBranches = true;
    }
}

HistorySurvey::Placement HistorySurvey::recordLayout(const QString &path, int revision,
                                                     const ChangedPathsReader::ChangedPath &change)
{
    Placement placement = placementOf(path);
    const bool deletion = change.kind == svn_fs_path_change_delete;
    const bool copied = !change.copyFromPath.isEmpty();
    const bool copiedDirectory = copied && change.isDirectory && !deletion;
    if (copiedDirectory && becomesNestedContainer(path, placement, change))
        placement = placementOf(path);

    if (!deletion)
        noteContainer(placement);

    const bool isRoot = !placement.root.isEmpty() && placement.root == path;
    const bool otherCopy = placement.container.isEmpty() && copiedDirectory
            && !insideBranchCopy(path);
    if (!deletion && (isRoot || otherCopy) && change.isDirectory) {
        BranchCandidate &candidate = candidateFor(path, placement);
        if (change.kind == svn_fs_path_change_add || change.kind == svn_fs_path_change_replace) {
            candidate.createdRevisions.append(revision);
            candidate.deletedRevision = -1;
            candidate.sourcePath = QString::fromUtf8(change.copyFromPath);
            candidate.sourceRevision = copied ? change.copyFromRevision : -1;
            if (candidate.kind == BranchKind::Other) {
                const BranchCandidate *source =
                        branchAt(candidate.sourcePath, candidate.sourceRevision);
                candidate.branchCopy = source != nullptr;
                if (source)
                    candidate.project = source->project;
            }
        }
    } else if (!placement.root.isEmpty() && !deletion && placement.root != path
               && !m_candidates.contains(placement.root)) {
        // A branch that holds changes before its own directory was seen
        // (created together with its container, or with history loaded
        // from a partial dump).
        Placement rootPlacement = placementOf(placement.root);
        candidateFor(placement.root, rootPlacement).createdRevisions.append(revision);
    }
    if (copiedDirectory)
        copyBranchesBelow(path, revision, QString::fromUtf8(change.copyFromPath),
                          change.copyFromRevision);
    return placement;
}

void HistorySurvey::recordChange(ChangedPathsReader &reader, int revision,
                                 const ChangedPathsReader::ChangedPath &change)
{
    const QString path = QString::fromUtf8(change.path);
    const bool deletion = change.kind == svn_fs_path_change_delete;
    const bool copied = !change.copyFromPath.isEmpty();
    const Placement placement = recordLayout(path, revision, change);
    if (deletion && change.isDirectory)
        markDeletedBelow(path, revision);
    markChanged(path, revision, !deletion && !change.isDirectory);

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
        if (it->deletedRevision == -1 && !it->createdRevisions.isEmpty()) {
            it->deletedRevision = revision;
            it->deletedRevisions.append(revision);
        }
    }
}

void HistorySurvey::markChanged(const QString &path, int revision, bool file)
{
    // The nearest candidate at or above the path holds the change.
    QString ancestor = path;
    while (!ancestor.isEmpty()) {
        auto it = m_candidates.find(ancestor);
        if (it != m_candidates.end()) {
            it->lastChangedRevision = revision;
            it->holdsFiles = it->holdsFiles || file;
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
            && !GitNames::isValidRefName(refNameOf(candidate)))
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
