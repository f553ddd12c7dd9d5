#include "svn/LineReader.h"

#include <QIODevice>
#include <cstdio>

bool LineReader::readLine(QByteArray &line)
{
    for (;;) {
        if (!readPiece(line))
            return false;
        ++m_lineNumber;
        if (line.size() <= maximumLineLength || line.endsWith('\n'))
            return true;
        fprintf(stderr, "Line %d of %s is longer than %d bytes, skipping it.\n", m_lineNumber,
                m_fileName.toLocal8Bit().constData(), maximumLineLength);
        while (readPiece(line) && !line.endsWith('\n')) {
        }
    }
}

// Up to maximumLineLength + 1 bytes of the current line; false at the end.
bool LineReader::readPiece(QByteArray &piece)
{
    // QIODevice::readLine stores at most size - 1 bytes and a NUL.
    m_buffer.resize(maximumLineLength + 2);
    const qint64 length = m_file.readLine(m_buffer.data(), m_buffer.size());
    if (length <= 0)
        return false;
    piece = QByteArray(m_buffer.constData(), length);
    return true;
}
