#include "survey/AttributeSurvey.h"

#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QJsonObject>
#include <QTextStream>

#include <cstring>

#include <apr_hash.h>

Status AttributeSurvey::readRevision(ChangedPathsReader &reader,
                                     const ChangedPathsReader::Revision &revision)
{
    ScopedPool pool(reader.pool());
    svn_fs_root_t *root = nullptr;
    for (const ChangedPathsReader::ChangedPath &change : revision.changes) {
        if (change.isDirectory || change.kind == svn_fs_path_change_delete)
            continue;
        const bool added = change.kind == svn_fs_path_change_add
                || change.kind == svn_fs_path_change_replace;
        if (!added && !change.propertiesModified)
            continue;
        if (!root) {
            if (svn_error_t *error = svn_fs_revision_root(&root, reader.filesystem(),
                                                          revision.number, pool))
                return svnFailure(error);
        }
        if (Status status = readFile(root, change.path, pool); !status)
            return status;
    }
    return Status();
}

Status AttributeSurvey::readFile(svn_fs_root_t *root, const QByteArray &path, apr_pool_t *pool)
{
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error = svn_fs_node_proplist(&properties, root, path.constData(), pool))
        return svnFailure(error);
    const auto value = [properties](const char *name) {
        return static_cast<const svn_string_t *>(apr_hash_get(properties, name,
                                                              APR_HASH_KEY_STRING));
    };
    if (const svn_string_t *eolStyle = value("svn:eol-style"))
        m_eolStyles[QByteArray(eolStyle->data)].insert(path);
    const svn_string_t *mimeType = value("svn:mime-type");
    if (mimeType && std::strncmp(mimeType->data, "text/", 5) != 0)
        m_binary.insert(path);
    if (value("svn:keywords"))
        m_keywords.insert(path);
    if (value("svn:needs-lock"))
        m_needsLock.insert(path);
    return Status();
}

void AttributeSurvey::writeText(QTextStream &out) const
{
    if (m_eolStyles.isEmpty() && m_binary.isEmpty() && m_keywords.isEmpty()
        && m_needsLock.isEmpty())
        return;
    out << "\nLine ends and binary files (files that carried the property):\n";
    for (auto it = m_eolStyles.cbegin(); it != m_eolStyles.cend(); ++it) {
        out << "  svn:eol-style " << QString::fromUtf8(it.key()) << ": " << it->size();
        if (it.key() == "CR")
            out << " (git cannot express it: these files get no attribute line)";
        out << "\n";
    }
    out << "  binary svn:mime-type: " << m_binary.size() << "\n";
    if (!m_eolStyles.isEmpty() || !m_binary.isEmpty())
        out << "  Recommended: convert with --svn-attributes to give git these line ends "
               "and binary marks in .gitattributes.\n";
    out << "  svn:keywords (not converted): " << m_keywords.size() << "\n";
    out << "  svn:needs-lock (not converted): " << m_needsLock.size() << "\n";
}

QJsonObject AttributeSurvey::json() const
{
    QJsonObject eolStyles;
    for (auto it = m_eolStyles.cbegin(); it != m_eolStyles.cend(); ++it)
        eolStyles.insert(QString::fromUtf8(it.key()), int(it->size()));
    return QJsonObject{{"eolStyles", eolStyles},
                       {"binaryMimeTypes", int(m_binary.size())},
                       {"keywords", int(m_keywords.size())},
                       {"needsLock", int(m_needsLock.size())}};
}
