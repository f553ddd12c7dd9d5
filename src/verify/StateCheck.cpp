#include "verify/StateCheck.h"

#include "verify/BranchTrees.h"
#include "verify/ConversionLog.h"
#include "verify/GitTreeComparer.h"
#include "verify/MetadataCheck.h"

#include <QCryptographicHash>
#include <QMap>

#include <algorithm>

namespace {

// "tree SHA" of a commit object, as 20 raw bytes.
QByteArray treeOfCommit(const QByteArray &commit)
{
    if (!commit.startsWith("tree "))
        return QByteArray();
    return QByteArray::fromHex(commit.mid(5, 40));
}

const QByteArray emptyTree = QByteArray::fromHex("4b825dc642cb6eb9a060e54bf8d69288fbee4904");

Failure cannotRead(int revision, const Status &why)
{
    Failure failure = Failure::fatal(QStringLiteral("cannot read revision %1").arg(revision));
    failure.setCause(why.failure().cause());
    return failure;
}

} // namespace

StateCheck::StateCheck(const QStringList &repositories, BranchTrees &branchTrees,
                       MetadataCheck *metadata)
    : m_repositories(repositories)
    , m_branchTrees(branchTrees)
    , m_metadata(metadata)
    , m_highestMarks(repositories.size(), 0)
{
    for (const QString &name : repositories) {
        m_readers.append(GitObjectReader(name));
        m_noteReaders.append(NoteReader(name));
        m_refs.emplace_back(name);
    }
}

void StateCheck::readCommits(const QList<RecordedStates::Item> &group,
                             const std::vector<std::unique_ptr<ConversionLog>> &logs)
{
    m_group = group;
    m_commits.clear();
    QMap<int, QList<QByteArray>> wanted;
    for (const RecordedStates::Item &state : group) {
        const QByteArray commit = state.state.mark == 0
                ? QByteArray()
                : logs.at(size_t(state.repositoryIndex))->commitOf(state.state.mark);
        m_commits.append(commit);
        if (!commit.isEmpty())
            wanted[state.repositoryIndex].append(commit);
    }
    m_contents.clear();
    m_notes.clear();
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        m_contents.insert(m_readers.at(it.key()).contentsOfType("commit", it.value()));
        if (m_metadata && m_metadata->checksNotes())
            m_notes.insert(m_noteReaders.at(it.key()).notesOf(it.value()));
    }
}

void StateCheck::passOver(const RecordedStates::Item &item)
{
    quint64 &highest = m_highestMarks[item.repositoryIndex];
    highest = std::max(highest, item.state.mark);
}

Status StateCheck::check(int index, QList<Difference> *out)
{
    const RecordedStates::Item &item = m_group.at(index);
    const ConversionLog::State &state = item.state;
    const QString &repository = m_repositories.at(item.repositoryIndex);
    TreeNodePointer expected;
    if (Status read = m_branchTrees.tree(repository, state.branch, &expected); !read)
        return cannotRead(state.revision, read);
    const Difference where{state.revision, repository, state.branch, QString(), QString(),
                           QString()};
    if (state.mark == 0) {
        if (expected && !expected->treeId().isEmpty())
            out->append(Difference{state.revision, repository, state.branch, QString(),
                                   QStringLiteral("deleted"),
                                   QStringLiteral("deleted in git, Subversion holds files")});
        return Status();
    }
    const QByteArray &commit = m_commits.at(index);
    if (commit.isEmpty() || !m_contents.contains(commit)) {
        Difference difference = where;
        difference.kind = QStringLiteral("mark");
        difference.detail = commit.isEmpty()
                ? QStringLiteral(":%1 is not in the marks file").arg(state.mark)
                : QStringLiteral("git has no commit %1").arg(QString::fromLatin1(commit));
        out->append(difference);
        return Status();
    }
    const GitObjectReader &reader = m_readers.at(item.repositoryIndex);
    if (Status compared = compareTree(expected, treeOfCommit(m_contents.value(commit)), reader,
                                      where, out);
        !compared)
        return cannotRead(state.revision, compared);
    if (Status checked = checkCommit(item, where, commit, out); !checked)
        return checked;
    // A branch whose ref was moved away from its last recorded commit:
    // what the ref gives is compared too, so that the paths show.
    const QString ref = RefCheck::refOf(state.branch);
    const QByteArray refCommit = m_refs.at(size_t(item.repositoryIndex)).refs().value(ref);
    if (item.last && !refCommit.isEmpty() && refCommit != commit) {
        const QByteArray content = reader.contentsOfType("commit", {refCommit}).value(refCommit);
        Difference atRef = where;
        atRef.detail = QStringLiteral("at %1").arg(ref);
        if (Status compared = compareTree(expected, treeOfCommit(content), reader, atRef, out);
            !compared)
            return cannotRead(state.revision, compared);
    }
    return Status();
}

// The metadata of a commit the state made: marks grow with every commit, so
// a state whose mark is above all before it made its commit; the others put
// their branch at a commit made before.
Status StateCheck::checkCommit(const RecordedStates::Item &item, const Difference &where,
                               const QByteArray &commit, QList<Difference> *out)
{
    quint64 &highest = m_highestMarks[item.repositoryIndex];
    if (item.state.mark <= highest)
        return Status();
    highest = item.state.mark;
    if (!m_metadata)
        return Status();
    const SvnTreeRouter::Fragment *fragment =
            m_branchTrees.firstFragment(where.repository, where.branch);
    const QByteArray svnPrefix = fragment ? fragment->svnPrefix.toUtf8() : QByteArray();
    if (fragment && m_metadata->checksNotes()) {
        const auto note = m_notes.constFind(commit);
        m_metadata->checkNote(where, svnPrefix, note == m_notes.constEnd() ? nullptr : &*note,
                              out);
    }
    return m_metadata->checkCommit(where, fragment ? &svnPrefix : nullptr,
                                   m_contents.value(commit), out);
}

// Trees of the same name are equal; only when the names differ is the
// expected tree read whole, to name the paths.
Status StateCheck::compareTree(const TreeNodePointer &expected, const QByteArray &gitTree,
                               const GitObjectReader &reader, const Difference &where,
                               QList<Difference> *out)
{
    const QByteArray expectedTree = expected ? expected->treeId() : QByteArray();
    if (gitTree == expectedTree || (expectedTree.isEmpty() && gitTree == emptyTree))
        return Status();
    QByteArray stripped;
    if (m_emptyDirs && withoutMatchedPlaceholders(gitTree, reader, where, &stripped)
        && (stripped == expectedTree || (expectedTree.isEmpty() && stripped == emptyTree)))
        return Status();
    TreeNodePointer full;
    if (Status read = m_branchTrees.fullTree(where.repository, where.branch, &full); !read)
        return read;
    GitTreeComparer(reader).compare(full, gitTree == emptyTree ? QByteArray() : gitTree, where,
                                    out);
    return Status();
}

// The converter's placeholder in a directory that a rule matched: a branch
// emptied by removing what it held has none, one made as an empty directory
// keeps it when files come (unless named trunk, branches or tags: then it
// never had one). The name of gitTree without these; false when it has none.
bool StateCheck::withoutMatchedPlaceholders(const QByteArray &gitTree,
                                            const GitObjectReader &reader,
                                            const Difference &where, QByteArray *stripped) const
{
    *stripped = gitTree;
    for (const QByteArray &path :
         m_branchTrees.matchedDirectories(where.repository, where.branch)) {
        QList<QByteArray> names = path.split('/');
        names.removeLast();
        withoutPlaceholder(QByteArray(*stripped), reader, names, stripped);
    }
    return *stripped != gitTree;
}

// The name of tree without the empty .gitignore of the directory at path
// below it; false when there is none.
bool StateCheck::withoutPlaceholder(const QByteArray &tree, const GitObjectReader &reader,
                                    const QList<QByteArray> &path, QByteArray *stripped)
{
    static const QByteArray placeholder = QByteArray("100644 .gitignore") + '\0'
            + QByteArray::fromHex("e69de29bb2d1d6434b8b29ae775ad8c2e48c5391");
    const QByteArray directory = path.isEmpty() ? QByteArray() : "40000 " + path.first() + '\0';
    QByteArray content = reader.objectContent("tree", tree.toHex());
    for (int at = 0; at < content.size();) {
        const int end = int(content.indexOf('\0', at)) + 21;
        if (end < 21 || end > content.size())
            return false;
        const QByteArray entry = content.mid(at, end - at);
        if (path.isEmpty() && entry == placeholder) {
            content.remove(at, end - at);
        } else if (!path.isEmpty() && entry.startsWith(directory)) {
            QByteArray below;
            if (!withoutPlaceholder(entry.right(20), reader, path.mid(1), &below))
                return false;
            if (below == emptyTree)
                content.remove(at, end - at); // git holds no empty directory
            else
                content.replace(end - 20, 20, below);
        } else {
            at = end;
            continue;
        }
        *stripped = QCryptographicHash::hash(
                "tree " + QByteArray::number(content.size()) + '\0' + content,
                QCryptographicHash::Sha1);
        return true;
    }
    return false;
}
