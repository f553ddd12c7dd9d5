// The files the converter adds to a branch: the .gitignore files of
// --svn-ignore and --empty-dirs and the .gitattributes files of --svn-attributes.

#include "verify/SvnTreeRouter.h"

#include "svn/AttributeTranslation.h"
#include "svn/IgnoreRules.h"

namespace {

const int regularFileMode = 0100644;

} // namespace

Status SvnTreeRouter::addGeneratedFiles(const QByteArray &path, bool empty, TreeNode *node,
                                        apr_pool_t *pool)
{
    QString ignoreText;
    if (m_settings.svnIgnore) {
        if (Status read = IgnoreRules::read(ignoreText, pool, path.constData(), m_root); !read)
            return read;
    }
    TreeEntry gitignore;
    gitignore.mode = regularFileMode;
    if (!ignoreText.isNull()) {
        gitignore.blobId = ExpectedTree::blobIdOf(ignoreText.toUtf8());
        node->entries.insert(".gitignore", gitignore);
    } else if (m_settings.emptyDirs && empty) {
        gitignore.blobId = ExpectedTree::blobIdOf(QByteArray());
        node->entries.insert(".gitignore", gitignore);
    }
    return m_settings.svnAttributes ? addGeneratedAttributes(path, node, pool) : Status();
}

Status SvnTreeRouter::addGeneratedAttributes(const QByteArray &path, TreeNode *node,
                                             apr_pool_t *pool)
{
    AttributeTranslation::DirectoryAttributes attributes;
    if (Status read = AttributeTranslation::readDirectory(&attributes, m_root, path.constData(),
                                                          pool);
        !read)
        return read;
    if (!attributes.text.isEmpty()) {
        TreeEntry gitattributes;
        gitattributes.mode = regularFileMode;
        gitattributes.blobId = ExpectedTree::blobIdOf(attributes.text);
        node->entries.insert(".gitattributes", gitattributes);
    }
    return Status();
}
