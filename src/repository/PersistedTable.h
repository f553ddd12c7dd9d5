#pragma once

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QString>

// The state files of a repository (pending annotated tags, branch notes) hold
// one hash table each, in QDataStream's default encoding: the entry count as
// unsigned 32-bit, then key and value per entry.
namespace PersistedTable {

constexpr quint32 corruptCount = 0xffffffffu;

template <typename Value>
void write(QDataStream &stream, const QHash<QString, Value> &table)
{
    stream << quint32(table.size());
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        stream << it.key() << it.value();
}

// Damaged or truncated data leaves the table empty.
template <typename Value>
void read(QDataStream &stream, QHash<QString, Value> &table)
{
    table.clear();
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok || count == corruptCount) {
        table.clear();
        return;
    }
    for (quint32 i = 0; i < count; ++i) {
        QString key;
        Value value;
        stream >> key >> value;
        if (stream.status() != QDataStream::Ok) {
            table.clear();
            return;
        }
        table.insert(key, value);
    }
}

// A missing file leaves the table as it was; an unreadable one empties it.
template <typename Value>
void load(const QString &fileName, QHash<QString, Value> &table)
{
    QFile file(fileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        table.clear();
        return;
    }
    QDataStream stream(&file);
    read(stream, table);
    file.close();
}

// Failures to create or write the file are not reported.
template <typename Value>
void store(const QString &fileName, const QHash<QString, Value> &table)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QDataStream stream(&file);
    write(stream, table);
    file.close();
}

} // namespace PersistedTable
