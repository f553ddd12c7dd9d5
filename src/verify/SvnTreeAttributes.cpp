// The generated .gitattributes files that --svn-attributes puts into a branch.

#include "verify/SvnTreeRouter.h"

#include "svn/AttributeTranslation.h"
#include "svn/SvnError.h"

namespace {

const int regularFileMode = 0100644;

} // namespace

bool SvnTreeRouter::addGeneratedAttributes(const QByteArray &path, TreeNode *node,
                                           apr_pool_t *pool)
{
    AttributeTranslation::DirectoryAttributes attributes;
    if (!succeededOrWarned(
                AttributeTranslation::readDirectory(&attributes, m_root, path.constData(), pool)))
        return false;
    if (!attributes.text.isEmpty()) {
        TreeEntry gitattributes;
        gitattributes.mode = regularFileMode;
        gitattributes.blobId = ExpectedTree::blobIdOf(attributes.text);
        node->entries.insert(".gitattributes", gitattributes);
    }
    return true;
}
