#include "survey/IdentitySkeleton.h"

#include "svn/AuthorIdentity.h"

#include <QRegularExpression>

namespace {

// What an identity may not hold: angle brackets and line breaks end it
// early, and an address holds no blank.
QByteArray cleaned(QByteArray text, char blank)
{
    for (char &c : text) {
        if (c == '<' || c == '>' || c == '\n' || c == '\r' || c == '\0')
            c = '_';
        else if (c == ' ' || c == '\t')
            c = blank;
    }
    return text;
}

// "Jane Doe <jane@example.org>": a name, a blank and an address git takes.
bool isIdentity(const QByteArray &author)
{
    static const QRegularExpression identity(QStringLiteral("^[^<>]*[^<>\\s] <[^<>\\s]+>$"));
    return identity.match(QString::fromUtf8(author)).hasMatch();
}

} // namespace

QByteArray IdentitySkeleton::write(const QMap<QByteArray, HistorySurvey::Author> &authors,
                                   const QString &domain)
{
    QByteArray text;
    for (auto it = authors.cbegin(); it != authors.cend(); ++it) {
        const QByteArray &author = it.key();
        if (author.isEmpty()) {
            const QByteArray first = "r" + QByteArray::number(it->firstRevision);
            if (it->revisions == 1)
                text += "# " + first + " has no author: it gets";
            else
                text += "# " + QByteArray::number(it->revisions) + " revisions have no author ("
                        + first + " to r" + QByteArray::number(it->lastRevision)
                        + "): they get";
            text += " the identity " + AuthorIdentity::defaultIdentity() + "\n";
            continue;
        }
        // A line break in a user name cannot be written as a key of the map.
        if (author.contains('\n') || author.contains('\r'))
            continue;
        if (isIdentity(author))
            text += author + " = " + author + "\n";
        else
            text += author + " = " + cleaned(author, ' ') + " <" + cleaned(author, '.') + '@'
                    + domain.toUtf8() + ">\n";
    }
    return text;
}
