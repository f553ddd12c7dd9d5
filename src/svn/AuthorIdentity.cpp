#include "svn/AuthorIdentity.h"

namespace {

QByteArray withoutLineBreaks(QByteArray text)
{
    text.replace('\n', ' ');
    text.replace('\r', ' ');
    return text;
}

QByteArray withoutLineBreaksOrBrackets(const QByteArray &text)
{
    QByteArray result = withoutLineBreaks(text);
    result.replace("<", "");
    result.replace(">", "");
    return result;
}

bool needsMending(const QByteArray &text)
{
    return text.contains('\n') || text.contains('\r') || text.contains('<') || text.contains('>');
}

} // namespace

QByteArray AuthorIdentity::defaultIdentity()
{
    return QByteArrayLiteral("nobody <nobody@localhost>");
}

QByteArray AuthorIdentity::fromUserName(const QByteArray &userName, const QString &domain)
{
    // Only a name that had to be mended loses its surplus blanks; ordinary
    // names are used exactly as Subversion has them.
    const QByteArray name = needsMending(userName)
            ? withoutLineBreaksOrBrackets(userName).simplified()
            : userName;
    if (name.trimmed().isEmpty())
        return defaultIdentity();
    return name + " <" + name + '@' + withoutLineBreaksOrBrackets(domain.toUtf8()) + '>';
}

QByteArray AuthorIdentity::fromMapping(const QByteArray &mappedIdentity)
{
    const QByteArray identity = withoutLineBreaks(mappedIdentity);
    if (identity.trimmed().isEmpty())
        return QByteArray();
    return identity;
}
