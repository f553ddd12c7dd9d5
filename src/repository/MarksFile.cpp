#include "repository/MarksFile.h"

#include <algorithm>

namespace {

// One line in this many has its place remembered.
const int linesPerPlace = 1024;

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
    m_places.clear();
    m_ordered = true;
    if (!m_file.open(QIODevice::ReadOnly))
        return Failure::fatal(QStringLiteral("cannot read the marks file %1: %2")
                                      .arg(path, m_file.errorString()));
    quint64 mark = 0;
    QByteArray commit;
    quint64 previous = 0;
    qint64 position = 0;
    for (qint64 lines = 0; readLine(&mark, &commit); ++lines) {
        if (lines % linesPerPlace == 0)
            m_places.append({mark, position});
        m_ordered = m_ordered && mark > previous;
        previous = mark;
        position = m_file.pos();
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

// In an ordered file: goes to the last remembered line at or before mark's,
// unless the line read last is nearer; to the start when mark comes before
// them all.
void MarksFile::moveTowards(quint64 mark)
{
    const auto after = std::upper_bound(
            m_places.cbegin(), m_places.cend(), mark,
            [](quint64 wanted, const Place &place) { return wanted < place.mark; });
    const qint64 position = after == m_places.cbegin() ? 0 : (after - 1)->position;
    const quint64 placeMark = after == m_places.cbegin() ? 0 : (after - 1)->mark;
    if (mark < m_mark || placeMark > m_mark) {
        m_file.seek(position);
        m_mark = 0;
        m_commit.clear();
    }
}

QByteArray MarksFile::commitOf(quint64 mark)
{
    if (!m_file.isOpen())
        return QByteArray();
    if (mark == m_mark && m_mark != 0)
        return m_commit;
    if (m_ordered) {
        // A larger mark ends the search.
        moveTowards(mark);
        while (readLine(&m_mark, &m_commit)) {
            if (m_mark >= mark)
                return m_mark == mark ? m_commit : QByteArray();
        }
        return QByteArray();
    }
    // Forwards from the line read last, then once more from the start.
    for (int round = 0; round <= 1; ++round) {
        if (round == 1) {
            m_file.seek(0);
            m_mark = 0;
            m_commit.clear();
        }
        while (readLine(&m_mark, &m_commit)) {
            if (m_mark == mark)
                return m_commit;
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
