#include "repository/GitNames.h"

#include <QList>

#include <algorithm>

namespace GitNames {

QByteArray refFor(const QByteArray &branch)
{
    if (branch.startsWith("refs/"))
        return branch;
    return "refs/heads/" + branch;
}

QByteArray refFor(const QString &branch)
{
    return refFor(branch.toUtf8());
}

namespace {

bool isValidRefComponent(const QByteArray &component)
{
    return !component.isEmpty() && !component.startsWith('.') && !component.endsWith(".lock");
}

} // namespace

bool isValidRefName(const QString &branch)
{
    if (branch == QLatin1String("@"))
        return false;
    const QByteArray ref = refFor(branch);
    if (ref.contains("..") || ref.contains("@{") || ref.endsWith('.'))
        return false;
    for (char c : ref) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (QByteArray(" ~^:?*[\\").contains(c))
            return false;
    }
    const QList<QByteArray> components = ref.split('/');
    return std::all_of(components.cbegin(), components.cend(), isValidRefComponent);
}

QString normalisedPath(const QString &path)
{
    QString normalised;
    normalised.reserve(path.size());
    for (QChar c : path) {
        if (c == QLatin1Char('/') && (normalised.isEmpty() || normalised.endsWith(c)))
            continue;
        normalised += c;
    }
    return normalised;
}

} // namespace GitNames
