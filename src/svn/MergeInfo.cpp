#include "svn/MergeInfo.h"

#include <QList>

#include <limits>

namespace {

// A revision number of a range: digits only, at least 1.
bool readRevision(const QByteArray &text, int *revision)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const qint64 number = text.toLongLong();
    if (number < 1 || number >= std::numeric_limits<int>::max())
        return false;
    *revision = int(number);
    return true;
}

// "3-5,9,12*": the inheritable ranges; false when any range cannot be read.
bool readRanges(const QByteArray &text, RevisionRanges *ranges)
{
    for (QByteArray range : text.split(',')) {
        range = range.trimmed();
        if (range.endsWith('*'))
            continue; // non-inheritable
        const qsizetype dash = range.indexOf('-');
        int first = 0;
        int last = 0;
        if (dash < 0) {
            if (!readRevision(range, &first))
                return false;
            last = first;
        } else if (!readRevision(range.left(dash), &first)
                   || !readRevision(range.mid(dash + 1), &last)) {
            return false;
        }
        ranges->add(first, last);
    }
    return true;
}

} // namespace

MergeInfo MergeInfo::fromMergeinfo(const QByteArray &value)
{
    MergeInfo info;
    for (const QByteArray &line : value.split('\n'))
        info.addEntry(line);
    return info;
}

MergeInfo MergeInfo::fromSvnmergeIntegrated(const QByteArray &value)
{
    MergeInfo info;
    for (const QByteArray &word : value.simplified().split(' '))
        info.addEntry(word);
    return info;
}

MergeInfo MergeInfo::fromProperties(const QByteArray &mergeinfo,
                                    const QByteArray &svnmergeIntegrated)
{
    MergeInfo info = fromMergeinfo(mergeinfo);
    const MergeInfo older = fromSvnmergeIntegrated(svnmergeIntegrated);
    for (auto it = older.m_sources.cbegin(); it != older.m_sources.cend(); ++it)
        info.m_sources[it.key()].unite(it.value());
    return info;
}

// "path:ranges". The path may hold a colon itself: the ranges follow the last one.
void MergeInfo::addEntry(const QByteArray &entry)
{
    const QByteArray text = entry.trimmed();
    const qsizetype colon = text.lastIndexOf(':');
    if (colon <= 0)
        return;
    QByteArray path = text.left(colon);
    if (!path.startsWith('/'))
        path.prepend('/');
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    RevisionRanges ranges;
    if (!readRanges(text.mid(colon + 1), &ranges) || ranges.isEmpty())
        return;
    m_sources[path].unite(ranges);
}

MergeInfo::Sources MergeInfo::growthSince(const MergeInfo &older) const
{
    Sources growth;
    for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it) {
        const RevisionRanges added = it.value().minus(older.m_sources.value(it.key()));
        if (!added.isEmpty())
            growth.insert(it.key(), added);
    }
    return growth;
}
