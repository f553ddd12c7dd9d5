#pragma once

#include "common/Failure.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

class QIODevice;

// fast-import's marks file, ":MARK OBJECT" lines: the one reader of it.
//
// Opened, it is read forwards as the marks are asked for, so that little of
// it is held: fast-import writes the marks in order, and the states of a
// history ask for them mostly in order too. A mark asked for out of order is
// read from the nearest of the lines whose place is remembered, one in every
// 1,024 (16 bytes each).
class MarksFile
{
public:
    struct Line
    {
        quint64 mark = 0; // 0 when the mark is no number
        QByteArray object;
        // Exactly as fast-import writes it: a number, one blank and an
        // object name of 40 or 64 lower-case hexadecimal digits, nothing
        // more. fast-import refuses to import a file with any other line.
        bool wellFormed = false;
    };
    // A line that begins with ":" and holds a blank; none for any other.
    static std::optional<Line> parseLine(const QByteArray &line);
    // Mark to object name, for every well-formed line.
    static QHash<quint64, QByteArray> objects(QIODevice &marks);

    // Fails when the file cannot be read.
    Status open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }

    // The commit of mark, as forty hexadecimal digits; empty when unknown.
    QByteArray commitOf(quint64 mark);
    // Those of commits that some mark names, in one pass over the file.
    QSet<QByteArray> recorded(const QSet<QByteArray> &commits);

private:
    struct Place
    {
        quint64 mark = 0;
        qint64 position = 0;
    };
    bool readLine(quint64 *mark, QByteArray *commit);
    void moveTowards(quint64 mark);

    QFile m_file;
    bool m_ordered = true;
    QList<Place> m_places; // of every 1,024th line, in the file's order
    quint64 m_mark = 0; // the mark of the line read last
    QByteArray m_commit;
};
