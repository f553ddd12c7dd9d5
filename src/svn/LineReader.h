#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Reads a file line by line, each line at most maximumLineLength bytes
// before its line feed: a damaged file, or a device given as one, must not
// make a reader hold without bound. A longer line is skipped to its end with
// a message on standard error naming the file and the line.
class LineReader
{
public:
    static constexpr int maximumLineLength = 1 << 20;

    LineReader(QIODevice &file, const QString &fileName) : m_file(file), m_fileName(fileName) {}

    // The next line with its line feed, if it has one; false after the last.
    // Reads until nothing comes, not while atEnd() is false: a pipe (as with
    // <(...)) may have no bytes available yet.
    bool readLine(QByteArray &line);
    // The 1-based number of the line readLine gave last.
    int lineNumber() const { return m_lineNumber; }

private:
    bool readPiece(QByteArray &piece);

    QIODevice &m_file;
    QString m_fileName;
    int m_lineNumber = 0;
    QByteArray m_buffer;
};
