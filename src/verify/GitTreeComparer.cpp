#include "verify/GitTreeComparer.h"

#include "repository/GitObjectReader.h"

namespace {

// More differences than this in one branch state are not listed one by one.
const int maximumListed = 50;

QString modeText(int mode)
{
    return QString::number(mode, 8).rightJustified(6, QLatin1Char('0'));
}

} // namespace

GitTreeComparer::GitTreeComparer(const GitObjectReader &reader)
    : m_reader(reader)
{
}

QMap<QByteArray, GitTreeComparer::GitEntry> GitTreeComparer::readTree(const QByteArray &tree) const
{
    QMap<QByteArray, GitEntry> entries;
    if (tree.isEmpty())
        return entries;
    const QByteArray name = tree.toHex();
    const QByteArray data = m_reader.contentsOfType("tree", {name}).value(name);
    int position = 0;
    while (position < data.size()) {
        const int blank = data.indexOf(' ', position);
        const int nul = data.indexOf('\0', position);
        if (blank < 0 || nul < 0 || nul + 21 > data.size())
            break;
        GitEntry entry;
        entry.mode = data.mid(position, blank - position).toInt(nullptr, 8);
        entry.id = data.mid(nul + 1, 20);
        entries.insert(data.mid(blank + 1, nul - blank - 1), entry);
        position = nul + 21;
    }
    return entries;
}

void GitTreeComparer::compare(const TreeNodePointer &expected, const QByteArray &gitTree,
                              const Difference &templateDifference, QList<Difference> *out) const
{
    compareAt(expected, gitTree, QByteArray(), templateDifference, out);
}

void GitTreeComparer::compareAt(const TreeNodePointer &expected, const QByteArray &gitTree,
                                const QByteArray &path, const Difference &templateDifference,
                                QList<Difference> *out) const
{
    const QMap<QByteArray, GitEntry> actual = readTree(gitTree);
    QMap<QByteArray, TreeEntry> wanted;
    if (expected) {
        for (auto it = expected->entries.cbegin(); it != expected->entries.cend(); ++it) {
            // Trees without files are no git trees.
            if (!it.value().isTree() || !it.value().tree->treeId().isEmpty())
                wanted.insert(it.key(), it.value());
        }
    }
    QList<QByteArray> names = wanted.keys() + actual.keys();
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const QByteArray &name : std::as_const(names)) {
        if (out->size() >= maximumListed)
            return;
        const QByteArray entryPath = path.isEmpty() ? name : path + '/' + name;
        Difference difference = templateDifference;
        difference.path = QString::fromUtf8(entryPath);
        const bool inSvn = wanted.contains(name);
        const bool inGit = actual.contains(name);
        const TreeEntry svnEntry = wanted.value(name);
        const GitEntry gitEntry = actual.value(name);
        const bool svnTree = inSvn && svnEntry.isTree();
        const bool gitTree = inGit && gitEntry.mode == 040000;
        if (svnTree || gitTree) {
            // A tree on one side only lists the files below it.
            if (!inGit || !gitTree) {
                listAll(svnEntry.tree, QByteArray(), entryPath, QStringLiteral("missing"),
                        templateDifference, out);
                if (inGit) {
                    difference.kind = QStringLiteral("extra");
                    out->append(difference);
                }
            } else if (!inSvn || !svnTree) {
                listAll(TreeNodePointer(), gitEntry.id, entryPath, QStringLiteral("extra"),
                        templateDifference, out);
                if (inSvn) {
                    difference.kind = QStringLiteral("missing");
                    out->append(difference);
                }
            } else if (svnEntry.tree->treeId() != gitEntry.id) {
                compareAt(svnEntry.tree, gitEntry.id, entryPath, templateDifference, out);
            }
            continue;
        }
        if (!inGit) {
            difference.kind = QStringLiteral("missing");
        } else if (!inSvn) {
            difference.kind = QStringLiteral("extra");
        } else if (svnEntry.mode != gitEntry.mode) {
            difference.kind = QStringLiteral("mode");
            difference.detail = QStringLiteral("Subversion %1, git %2")
                                        .arg(modeText(svnEntry.mode), modeText(gitEntry.mode));
        } else if (svnEntry.blobId != gitEntry.id) {
            difference.kind = QStringLiteral("content");
            difference.detail = QStringLiteral("Subversion %1, git %2")
                                        .arg(QString::fromLatin1(svnEntry.blobId.toHex()),
                                             QString::fromLatin1(gitEntry.id.toHex()));
        } else {
            continue;
        }
        out->append(difference);
    }
}

void GitTreeComparer::listAll(const TreeNodePointer &expected, const QByteArray &gitTree,
                              const QByteArray &path, const QString &kind,
                              const Difference &templateDifference, QList<Difference> *out) const
{
    QMap<QByteArray, bool> below; // name to whether it is a tree
    QMap<QByteArray, TreeNodePointer> svnTrees;
    QMap<QByteArray, QByteArray> gitTrees;
    if (expected) {
        for (auto it = expected->entries.cbegin(); it != expected->entries.cend(); ++it) {
            below.insert(it.key(), it.value().isTree());
            svnTrees.insert(it.key(), it.value().tree);
        }
    } else {
        const QMap<QByteArray, GitEntry> entries = readTree(gitTree);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            below.insert(it.key(), it.value().mode == 040000);
            gitTrees.insert(it.key(), it.value().id);
        }
    }
    for (auto it = below.cbegin(); it != below.cend(); ++it) {
        if (out->size() >= maximumListed)
            return;
        const QByteArray entryPath = path + '/' + it.key();
        if (it.value()) {
            listAll(svnTrees.value(it.key()), gitTrees.value(it.key()), entryPath, kind,
                    templateDifference, out);
            continue;
        }
        Difference difference = templateDifference;
        difference.path = QString::fromUtf8(entryPath);
        difference.kind = kind;
        out->append(difference);
    }
}
