#include "repository/MarksFile.h"

namespace {

bool isObjectName(const QByteArray &text)
{
    if (text.size() != 40 && text.size() != 64)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

std::optional<MarksFile::Line> MarksFile::parseLine(const QByteArray &line)
{
    const QByteArray text = line.endsWith('\n') ? line.left(line.size() - 1) : line;
    const QByteArray trimmed = text.trimmed();
    const qsizetype blank = trimmed.indexOf(' ');
    if (!trimmed.startsWith(':') || blank < 0)
        return std::nullopt;
    Line parsed;
    bool isNumber = false;
    parsed.mark = trimmed.mid(1, blank - 1).toULongLong(&isNumber);
    parsed.object = trimmed.mid(blank + 1);
    parsed.wellFormed = trimmed.size() == text.size() && blank >= 2 && isNumber
                        && isObjectName(parsed.object);
    return parsed;
}

QHash<quint64, QByteArray> MarksFile::objects(QIODevice &marks)
{
    QHash<quint64, QByteArray> objects;
    while (!marks.atEnd()) {
        const std::optional<Line> line = parseLine(marks.readLine());
        if (line && line->wellFormed)
            objects.insert(line->mark, line->object);
    }
    return objects;
}

Status MarksFile::open(const QString &path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return Failure::fatal(QStringLiteral("cannot read the marks file %1: %2")
                                      .arg(path, m_file.errorString()));
    quint64 mark = 0;
    QByteArray commit;
    quint64 previous = 0;
    while (readLine(&mark, &commit)) {
        m_ordered = m_ordered && mark > previous;
        previous = mark;
    }
    m_file.seek(0);
    return Status();
}

bool MarksFile::readLine(quint64 *mark, QByteArray *commit)
{
    while (!m_file.atEnd()) {
        const std::optional<Line> line = parseLine(m_file.readLine());
        if (!line)
            continue;
        *mark = line->mark;
        *commit = line->object;
        return true;
    }
    return false;
}

QByteArray MarksFile::commitOf(quint64 mark)
{
    if (!m_file.isOpen())
        return QByteArray();
    if (mark == m_mark && m_mark != 0)
        return m_commit;
    // Forwards from the line read last, then once more from the start; in an
    // ordered file one of the two is enough, and a larger mark ends the search.
    const int first = m_ordered && mark < m_mark ? 1 : 0;
    const int last = m_ordered && mark > m_mark ? 0 : 1;
    for (int round = first; round <= last; ++round) {
        if (round == 1) {
            m_file.seek(0);
            m_mark = 0;
            m_commit.clear();
        }
        while (readLine(&m_mark, &m_commit)) {
            if (m_mark == mark)
                return m_commit;
            if (m_ordered && m_mark > mark)
                return QByteArray();
        }
    }
    return QByteArray();
}

QSet<QByteArray> MarksFile::recorded(const QSet<QByteArray> &commits)
{
    QSet<QByteArray> found;
    if (!m_file.isOpen() || commits.isEmpty())
        return found;
    m_file.seek(0);
    while (readLine(&m_mark, &m_commit)) {
        if (commits.contains(m_commit))
            found.insert(m_commit);
    }
    m_file.seek(0);
    m_mark = 0;
    m_commit.clear();
    return found;
}
