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

QByteArray AuthorIdentity::ofAuthor(const QByteArray &userName, const IdentityMap &identities,
                                    const QString &domain)
{
    if (userName.isEmpty())
        return defaultIdentity();
    const QByteArray mapped = fromMapping(identities.value(userName));
    return mapped.isEmpty() ? fromUserName(userName, domain) : mapped;
}

QString AuthorIdentity::domainOf(const QString &given)
{
    QString domain = given;
    domain.remove(QLatin1Char('@'));
    domain = domain.simplified();
    return domain.isEmpty() ? QString::fromLatin1(defaultDomain) : domain;
}
