#include "svn/IgnoreRules.h"

#include "svn/SvnError.h"

#include <QRegExp>

namespace {

// Lines naming a path below the directory have no git equivalent here: a
// first such line goes with the line break after it, a later one with the
// line break before it.
const char linesWithSlashPattern[] =
        R"(^[^\r\n]*[\\/][^\r\n]*(?:[\r\n]|$)|[\r\n][^\r\n]*[\\/][^\r\n]*(?=[\r\n]|$))";
// Leading white space (empty lines included) before every pattern, which
// then gets a "/" so that it only applies in the directory itself.
const char patternStartPattern[] = R"((^|[\r\n])\s*(?![\r\n]|$))";
const char asteriskRunPattern[] = R"(\*+)";

QString withoutLinesWithSlash(QString text)
{
    // One pass leaves a line standing when the line before it was removed
    // together with the line break between them, so repeat until stable.
    const QRegExp linesWithSlash(QString::fromLatin1(linesWithSlashPattern));
    for (;;) {
        const QString shorter = linesWithSlash.replaceIn(text, QString());
        if (shorter == text)
            return text;
        text = shorter;
    }
}

// Reads a node property; null when it is absent.
svn_error_t *readProperty(const svn_string_t **value, svn_fs_root_t *root, const char *path,
                          const char *name, apr_pool_t *pool)
{
    svn_string_t *found = nullptr;
    svn_error_t *error = svn_fs_node_prop(&found, root, path, name, pool);
    *value = found;
    return error;
}

} // namespace

Status IgnoreRules::read(QString &ignoreText, apr_pool_t *pool, const char *path,
                         svn_fs_root_t *root)
{
    ignoreText = QString();

    const svn_string_t *ignore = nullptr;
    if (svn_error_t *error = readProperty(&ignore, root, path, "svn:ignore", pool))
        return svnFailure(error);
    if (ignore) {
        QString text = withoutLinesWithSlash(QString::fromUtf8(ignore->data));
        text = QRegExp(QString::fromLatin1(patternStartPattern))
                       .replaceIn(text, QStringLiteral("\\1/"));
        if (!text.trimmed().isEmpty())
            ignoreText = text;
    }

    const svn_string_t *globalIgnores = nullptr;
    if (svn_error_t *error = readProperty(&globalIgnores, root, path, "svn:global-ignores", pool))
        return svnFailure(error);
    if (globalIgnores) {
        const QString text = withoutLinesWithSlash(QString::fromUtf8(globalIgnores->data));
        if (!text.trimmed().isEmpty()) {
            // Keep the last anchored pattern and the first global one apart.
            if (!ignoreText.isEmpty() && !ignoreText.endsWith(QLatin1Char('\n'))
                && !ignoreText.endsWith(QLatin1Char('\r')))
                ignoreText += QLatin1Char('\n');
            ignoreText += text;
        }
    }

    if (!ignoreText.isNull())
        ignoreText = QRegExp(QString::fromLatin1(asteriskRunPattern))
                             .replaceIn(ignoreText, QStringLiteral("*"));
    return Status();
}
