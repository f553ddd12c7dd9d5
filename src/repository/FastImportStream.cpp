#include "repository/FastImportStream.h"

namespace FastImportStream {

QByteArray pathFor(const QString &path)
{
    const QByteArray bytes = path.toUtf8();
    if (!bytes.contains('\n') && !bytes.startsWith('"'))
        return bytes;

    QByteArray quoted;
    quoted.reserve(bytes.size() + 8);
    quoted += '"';
    for (char c : bytes) {
        switch (c) {
        case '\n':
            quoted += "\\n";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        default:
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

bool containsLineFeed(const QString &text)
{
    return text.contains(QLatin1Char('\n'));
}

} // namespace FastImportStream
