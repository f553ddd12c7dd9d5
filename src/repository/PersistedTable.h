#pragma once

#include "common/Failure.h"

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <algorithm>

// The state files of a repository (pending annotated tags, branch notes) hold
// one hash table each, in QDataStream's default encoding: the entry count as
// unsigned 32-bit, then key and value per entry.
namespace PersistedTable {

constexpr quint32 corruptCount = 0xffffffffu;

template <typename Value>
void write(QDataStream &stream, const QHash<QString, Value> &table)
{
    // In key order, so that the same table always gives the same file.
    QStringList keys = table.keys();
    std::sort(keys.begin(), keys.end());
    stream << quint32(table.size());
    for (const QString &key : std::as_const(keys))
        stream << key << table.value(key);
}

// Damaged or truncated data leaves the table empty and returns false; so do
// bytes after the last entry, which a file written by store() never has.
template <typename Value>
bool read(QDataStream &stream, QHash<QString, Value> &table)
{
    table.clear();
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok || count == corruptCount) {
        table.clear();
        return false;
    }
    for (quint32 i = 0; i < count; ++i) {
        QString key;
        Value value;
        stream >> key >> value;
        if (stream.status() != QDataStream::Ok) {
            table.clear();
            return false;
        }
        table.insert(key, value);
    }
    if (!stream.atEnd()) {
        table.clear();
        return false;
    }
    return true;
}

enum class LoadResult { Missing, Loaded, Damaged };

// A missing file leaves the table as it was; an unreadable or damaged one empties it.
template <typename Value>
LoadResult load(const QString &fileName, QHash<QString, Value> &table)
{
    QFile file(fileName);
    if (!file.exists())
        return LoadResult::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        table.clear();
        return LoadResult::Damaged;
    }
    QDataStream stream(&file);
    const bool complete = read(stream, table);
    file.close();
    return complete ? LoadResult::Loaded : LoadResult::Damaged;
}

// The new file replaces the old one only once it is complete, so a run that
// dies while saving leaves the previous table. A table that could not be
// saved fails with the file it was to go to ("to" and the file name), for
// the caller to say whose table it was.
template <typename Value>
Status store(const QString &fileName, const QHash<QString, Value> &table)
{
    QSaveFile file(fileName);
    bool saved = file.open(QIODevice::WriteOnly);
    if (saved) {
        QDataStream stream(&file);
        write(stream, table);
        saved = stream.status() == QDataStream::Ok && file.commit();
    }
    if (!saved)
        return Failure() << "to" << fileName;
    return Status();
}

} // namespace PersistedTable
