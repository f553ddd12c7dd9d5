#include "repository/AnnotatedTagJournal.h"

#include <QDataStream>
#include <QFile>
#include <QStringList>

#include <algorithm>

AnnotatedTagJournal::AnnotatedTagJournal(const QString &fileName)
    : m_fileName(fileName)
{
}

Status AnnotatedTagJournal::append(int revision, const QSet<QString> &names,
                                   const QHash<QString, AnnotatedTag> &table) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return cannotWrite();
    QDataStream stream(&file);
    QStringList sortedNames = names.values();
    std::sort(sortedNames.begin(), sortedNames.end());
    for (const QString &name : std::as_const(sortedNames)) {
        const auto entry = table.constFind(name);
        const bool present = entry != table.constEnd();
        stream << qint32(revision) << name << present;
        if (present)
            stream << entry.value();
    }
    file.close();
    if (stream.status() != QDataStream::Ok || file.error() != QFile::NoError)
        return cannotWrite();
    return Status();
}

Failure AnnotatedTagJournal::cannotWrite() const
{
    return Failure() << "Cannot write the annotated tag journal" << m_fileName;
}

bool AnnotatedTagJournal::replay(QHash<QString, AnnotatedTag> &table, int beforeRevision) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream stream(&file);
    while (!stream.atEnd()) {
        qint32 revision = 0;
        QString name;
        bool present = false;
        AnnotatedTag tag;
        stream >> revision >> name >> present;
        if (present)
            stream >> tag;
        if (stream.status() != QDataStream::Ok)
            break;
        if (revision >= beforeRevision)
            continue;
        if (present)
            table.insert(name, tag);
        else
            table.remove(name);
    }
    return true;
}

void AnnotatedTagJournal::remove() const
{
    QFile::remove(m_fileName);
}
