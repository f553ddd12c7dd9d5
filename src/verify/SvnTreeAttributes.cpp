// What --svn-attributes puts into a branch: the generated .gitattributes
// files, and text files with LF line ends.

#include "verify/SvnTreeRouter.h"

#include "svn/AttributeTranslation.h"
#include "svn/SvnError.h"

#include <QCryptographicHash>

namespace {

const int regularFileMode = 0100644;

} // namespace

bool SvnTreeRouter::addGeneratedAttributes(const QByteArray &path, TreeNode *node,
                                           apr_pool_t *pool)
{
    AttributeTranslation::DirectoryAttributes attributes;
    if (!AttributeTranslation::readDirectory(&attributes, m_root, path.constData(), pool))
        return false;
    if (!attributes.text.isEmpty()) {
        TreeEntry gitattributes;
        gitattributes.mode = regularFileMode;
        gitattributes.blobId = ExpectedTree::blobIdOf(attributes.text);
        node->entries.insert(".gitattributes", gitattributes);
    }
    return true;
}

bool SvnTreeRouter::normalisedFileEntry(const char *svnPath, const QByteArray &contentKey,
                                        TreeEntry *entry, apr_pool_t *pool)
{
    // Kept apart from the same contents stored as they are.
    const QByteArray key = contentKey + "\n";
    const auto known = m_blobIds.constFind(key);
    if (known != m_blobIds.constEnd()) {
        entry->blobId = known.value();
        return true;
    }
    svn_stream_t *contents = nullptr;
    svn_filesize_t length = 0;
    if (!AttributeTranslation::openNormalised(&contents, &length, m_root, svnPath, pool))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData("blob " + QByteArray::number(qint64(length)) + '\0');
    char buffer[65536];
    apr_size_t got = sizeof buffer;
    while (got == sizeof buffer) {
        if (svn_error_t *error = svn_stream_read_full(contents, buffer, &got))
            return reportSvnError(error) == 0;
        hash.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    svn_error_clear(svn_stream_close(contents));
    entry->blobId = hash.result();
    m_blobIds.insert(key, entry->blobId);
    return true;
}
