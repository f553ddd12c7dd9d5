#pragma once

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QString>

// Reads fast-import's marks file (":MARK SHA" lines) forwards as the marks
// are asked for, so that nothing of it is held: fast-import writes the marks
// in order, and the states of a history ask for them mostly in order too.
class MarksFile
{
public:
    // False when the file cannot be read; *error says why.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }

    // The commit of mark, as forty hexadecimal digits; empty when unknown.
    QByteArray commitOf(quint64 mark);
    // Those of commits that some mark names, in one pass over the file.
    QSet<QByteArray> recorded(const QSet<QByteArray> &commits);

private:
    bool readLine(quint64 *mark, QByteArray *commit);

    QFile m_file;
    bool m_ordered = true;
    quint64 m_mark = 0; // the mark of the line read last
    QByteArray m_commit;
};
