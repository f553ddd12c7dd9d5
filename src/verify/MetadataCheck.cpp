#include "verify/MetadataCheck.h"

#include "repository/Metadata.h"
#include "svn/AuthorIdentity.h"
#include "svn/RevisionQueries.h"
#include "svn/SvnError.h"

#include <svn_props.h>

namespace {

// The value of a header line ("author ...") of a commit or tag object.
QByteArray headerValue(const QByteArray &content, const QByteArray &name)
{
    const QByteArray header = content.left(content.indexOf("\n\n") + 1);
    const QByteArray prefix = name + ' ';
    for (const QByteArray &line : header.split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QByteArray();
}

QByteArray messageOf(const QByteArray &content)
{
    const int end = content.indexOf("\n\n");
    return end < 0 ? QByteArray() : content.mid(end + 2);
}

// The cherry-pick lines the converter adds after the metadata line.
QByteArray cherryPickLines(const QByteArray &message)
{
    QByteArray lines;
    for (const QByteArray &line : message.split('\n')) {
        if (line.startsWith("svn cherry-pick="))
            lines += line + '\n';
    }
    return lines;
}

// A text made readable on one line.
QString quoted(const QByteArray &text)
{
    QByteArray shown = text.left(60);
    shown.replace('\n', "\\n");
    return QStringLiteral("\"%1%2\"")
            .arg(QString::fromUtf8(shown), text.size() > 60 ? QStringLiteral("...") : QString());
}

} // namespace

MetadataCheck::MetadataCheck(svn_fs_t *fs, const Options &options)
    : m_fs(fs)
    , m_options(options)
    , m_filter(options.messageFilter)
    , m_pool(nullptr)
{
}

Status MetadataCheck::readRevision(int revision)
{
    if (revision == m_revision)
        return Status();
    m_pool.clear();
    apr_hash_t *properties = nullptr;
    if (svn_error_t *error = svn_fs_revision_proplist2(&properties, m_fs, revision, FALSE,
                                                       m_pool, m_pool))
        return svnFailureInOneLine(error, QStringLiteral("cannot read the properties of revision %1")
                                                  .arg(revision));
    auto property = [properties](const char *name) {
        const auto *value = static_cast<const svn_string_t *>(
                apr_hash_get(properties, name, APR_HASH_KEY_STRING));
        return value ? QByteArray(value->data) : QByteArray();
    };
    const QByteArray date = property(SVN_PROP_REVISION_DATE);
    m_identity = AuthorIdentity::ofAuthor(property(SVN_PROP_REVISION_AUTHOR),
                                          m_options.identities, m_options.identityDomain);
    m_epoch = date.isEmpty() ? 0 : RevisionQueries::parseSvnDate(date.constData());
    m_log = property(SVN_PROP_REVISION_LOG);
    m_revision = revision;
    return Status();
}

// Reports the name and address apart from the date.
void MetadataCheck::compareIdentity(const Difference &where, const QByteArray &role,
                                    const QByteArray &found, QList<Difference> *out) const
{
    const QByteArray expected = m_identity + ' ' + QByteArray::number(m_epoch) + " +0000";
    if (found == expected)
        return;
    const int split = found.lastIndexOf("> ") + 1;
    const QByteArray identity = split > 0 ? found.left(split) : found;
    Difference difference = where;
    if (identity != m_identity) {
        difference.kind = QStringLiteral("author");
        difference.detail = QStringLiteral("%1: git has %2, Subversion gives %3")
                                    .arg(QString::fromUtf8(role), quoted(identity),
                                         quoted(m_identity));
    } else {
        difference.kind = QStringLiteral("date");
        difference.detail = QStringLiteral("%1: git has %2, Subversion gives %3 +0000")
                                    .arg(QString::fromUtf8(role),
                                         QString::fromUtf8(found.mid(split + 1)))
                                    .arg(m_epoch);
    }
    out->append(difference);
}

Status MetadataCheck::checkCommit(const Difference &where, const QByteArray *svnPrefix,
                                  const QByteArray &content, QList<Difference> *out)
{
    if (Status read = readRevision(where.revision); !read)
        return read;
    compareIdentity(where, "author", headerValue(content, "author"), out);
    compareIdentity(where, "committer", headerValue(content, "committer"), out);
    if (m_options.addMetadata && !svnPrefix)
        return Status();
    const QByteArray found = messageOf(content);
    QByteArray metadata;
    if (m_options.addMetadata)
        metadata = formatMetadata(*svnPrefix, where.revision)
                + (m_options.svnMergeinfo ? cherryPickLines(found) : QByteArray());
    const Result<QByteArray> expected = m_filter.filter(messageWithMetadata(m_log, metadata));
    if (!expected)
        return expected.failure();
    if (found != expected.value()) {
        Difference difference = where;
        difference.kind = QStringLiteral("message");
        difference.detail = QStringLiteral("git has %1, Subversion gives %2")
                                    .arg(quoted(found), quoted(expected.value()));
        out->append(difference);
    }
    return Status();
}

Status MetadataCheck::checkTag(const Difference &where, const QByteArray &svnPrefix,
                               const QByteArray &tagName, const QByteArray &content,
                               QList<Difference> *out)
{
    if (Status read = readRevision(where.revision); !read)
        return read;
    const QByteArray expectedMessage = messageWithMetadata(
            m_log, m_options.addMetadata ? formatMetadata(svnPrefix, where.revision, tagName)
                                         : QByteArray());
    const QByteArray expectedTagger = m_identity + ' ' + QByteArray::number(m_epoch) + " +0000";
    QStringList faults;
    if (headerValue(content, "tag") != tagName)
        faults.append(QStringLiteral("name %1").arg(quoted(headerValue(content, "tag"))));
    if (headerValue(content, "tagger") != expectedTagger)
        faults.append(QStringLiteral("tagger %1, Subversion gives %2")
                              .arg(quoted(headerValue(content, "tagger")),
                                   quoted(expectedTagger)));
    if (messageOf(content) != expectedMessage)
        faults.append(QStringLiteral("message %1, Subversion gives %2")
                              .arg(quoted(messageOf(content)), quoted(expectedMessage)));
    if (!faults.isEmpty()) {
        Difference difference = where;
        difference.kind = QStringLiteral("tag");
        difference.detail = QStringLiteral("git has ") + faults.join(QStringLiteral("; "));
        out->append(difference);
    }
    return Status();
}

void MetadataCheck::checkNote(const Difference &where, const QByteArray &svnPrefix,
                              const QByteArray *note, QList<Difference> *out) const
{
    const QByteArray expected = formatMetadata(svnPrefix, where.revision);
    bool equal = note && note->startsWith(expected);
    for (const QByteArray &line : note ? note->mid(expected.size()).split('\n') : QList<QByteArray>()) {
        const bool tagLine = line.startsWith("svn path=") && line.contains("; tag=");
        const bool cherryPick = m_options.svnMergeinfo && line.startsWith("svn cherry-pick=");
        equal = equal && (line.isEmpty() || tagLine || cherryPick);
    }
    if (equal)
        return;
    Difference difference = where;
    difference.kind = QStringLiteral("message");
    difference.detail = QStringLiteral("note: git has %1, Subversion gives %2")
                                .arg(note ? quoted(*note) : QStringLiteral("none"),
                                     quoted(expected));
    out->append(difference);
}
