// Keeping the generated .gitattributes of every directory in step with the
// line-end and mime-type properties of its files.

#include "svn/AttributeFileWriter.h"

#include "svn/AttributeTranslation.h"
#include "svn/DirectoryFileWriter.h"
#include "svn/SvnError.h"

#include <QDebug>

namespace {

const char attributesFileName[] = ".gitattributes";

} // namespace

bool AttributeFileWriter::firstWarningFor(const QByteArray &path)
{
    if (!m_warnedPaths)
        return true;
    if (m_warnedPaths->contains(path))
        return false;
    m_warnedPaths->insert(path);
    return true;
}

void AttributeFileWriter::writeGitattributes(const DumpTarget &directory, bool fresh,
                                             apr_pool_t *pool)
{
    if (!m_enabled)
        return;
    // Every answer comes from the revision's final tree, so one per
    // directory and branch is enough.
    const QPair<Repository::Transaction *, QString> key(
            directory.transaction,
            DirectoryFileWriter::directoryFilePath(directory.gitPath, attributesFileName));
    if (m_written.contains(key))
        return;
    m_written.insert(key);

    const QByteArray &path = directory.svnPath;
    AttributeTranslation::DirectoryAttributes attributes;
    if (!succeededOrWarned(AttributeTranslation::readDirectory(&attributes, directory.root,
                                                               path.constData(), pool))) {
        qWarning() << "Error fetching svn-properties (" << QString::fromUtf8(path) << ")";
        return;
    }
    for (const QByteArray &file : std::as_const(attributes.carriageReturnFiles)) {
        if (firstWarningFor(file))
            qWarning() << "WARN: svn:eol-style CR of" << QString::fromUtf8(file)
                       << "has no git equivalent; the file gets no attribute line";
    }
    if (attributes.ownFile) {
        if (firstWarningFor(path + '/' + attributesFileName))
            qWarning() << "WARN: Subversion holds a .gitattributes in" << QString::fromUtf8(path)
                       << "; it is kept and no lines are generated for that directory";
        return;
    }
    if (!attributes.text.isEmpty())
        m_directoryFiles.writeDirectoryFile(directory, attributesFileName, attributes.text);
    else if (!fresh)
        directory.transaction->removePath(key.second);
}

void AttributeFileWriter::updateGitattributes(const DumpTarget &file, const PathChange &change,
                                              apr_pool_t *pool)
{
    if (!m_enabled)
        return;
    // New contents alone change no line.
    if (change.kind == svn_fs_path_change_modify && !change.propertiesModified)
        return;
    QByteArray path = file.svnPath;
    while (path.endsWith('/'))
        path.chop(1);
    const int slash = int(path.lastIndexOf('/'));
    if (slash < 0)
        return;
    QString gitPath = file.gitPath;
    while (gitPath.endsWith(QLatin1Char('/')))
        gitPath.chop(1);
    DumpTarget directory = file;
    directory.svnPath = slash == 0 ? QByteArray("/") : path.left(slash);
    directory.gitPath = gitPath.left(int(gitPath.lastIndexOf(QLatin1Char('/'))) + 1);

    // A .gitattributes of Subversion's own that comes or goes decides
    // between it and the generated lines.
    if (path.mid(slash + 1) != attributesFileName
        && !fileLineChanged(path, change.kind, pool))
        return;
    writeGitattributes(directory, false, pool);
}

bool AttributeFileWriter::fileLineChanged(const QByteArray &path,
                                          svn_fs_path_change_kind_t change, apr_pool_t *pool)
{
    QByteArray now;
    QByteArray before;
    bool crNow = false;
    bool crBefore = false;
    // An added path was not there before; a deleted one is not there now.
    if (change != svn_fs_path_change_delete
        && !succeededOrWarned(AttributeTranslation::fileAttributes(&now, &crNow, m_root,
                                                                   path.constData(), pool)))
        return false;
    if (change != svn_fs_path_change_add) {
        if (!m_previousRoot) {
            if (svn_error_t *error = svn_fs_revision_root(&m_previousRoot, m_fs, m_revision - 1,
                                                          m_revisionPool)) {
                svn_error_clear(error);
                m_previousRoot = nullptr;
            }
        }
        svn_node_kind_t kind = svn_node_none;
        if (!m_previousRoot)
            return true;
        if (svn_error_t *error =
                    svn_fs_check_path(&kind, m_previousRoot, path.constData(), pool)) {
            svn_error_clear(error);
            return true;
        }
        // Not there before, yet not added: it came with a directory copied
        // in this revision, whose .gitattributes says what its source said.
        if (kind == svn_node_none)
            return true;
        if (!succeededOrWarned(AttributeTranslation::fileAttributes(
                    &before, &crBefore, m_previousRoot, path.constData(), pool)))
            return false;
    }
    return now != before || crNow != crBefore;
}
