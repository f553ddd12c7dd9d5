#include "survey/IdentitySkeleton.h"

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

} // namespace

QByteArray IdentitySkeleton::write(const QList<QByteArray> &authors, const QString &domain)
{
    QByteArray text;
    for (const QByteArray &author : authors) {
        // A line break in a user name cannot be written as a key of the map.
        if (author.isEmpty() || author.contains('\n') || author.contains('\r'))
            continue;
        text += author + " = " + cleaned(author, ' ') + " <" + cleaned(author, '.') + '@'
                + domain.toUtf8() + ">\n";
    }
    return text;
}
