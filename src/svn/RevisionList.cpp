#include "svn/RevisionList.h"

#include "svn/LineReader.h"

#include <QFile>
#include <QRegExp>
#include <cstdio>

namespace {

// The newest revision, asked for at most once per file and only when a range
// needs it.
class LatestRevision
{
public:
    explicit LatestRevision(const std::function<int()> &source) : m_source(source) {}

    int value()
    {
        if (!m_known) {
            m_value = m_source ? m_source() : 0;
            m_known = true;
        }
        return m_value;
    }

private:
    const std::function<int()> &m_source;
    int m_value = 0;
    bool m_known = false;
};

void addSingleRevision(const QString &line, const QString &number, RevisionSet &revisions)
{
    bool ok = false;
    const int revision = number.toInt(&ok, 10);
    if (!ok) {
        fprintf(stderr, "Unable to convert %s to int, skipping revision.\n", line.toLocal8Bit().constData());
        return;
    }
    revisions.insert(revision);
}

void reportBadRangeEnd(const QString &line, const QString &number)
{
    fprintf(stderr, "Unable to convert %s (%s) to int, skipping revisions.\n", number.toLocal8Bit().constData(),
            line.toLocal8Bit().constData());
}

void addRange(const QString &line, const QString &first, const QString &last, LatestRevision &latest,
              RevisionSet &revisions)
{
    bool ok = false;
    const int start = first.toInt(&ok, 10);
    if (!ok) {
        reportBadRangeEnd(line, first);
        return;
    }
    int end = 0;
    if (last == QLatin1String("HEAD")) {
        end = latest.value();
    } else {
        end = last.toInt(&ok, 10);
        if (!ok) {
            reportBadRangeEnd(line, last);
            return;
        }
        // Revisions past the newest one do not exist; expanding "1-2000000000"
        // one by one would only exhaust memory.
        end = qMin(end, latest.value());
    }
    // 64-bit counter: with an int, an end of INT_MAX would never be passed.
    for (qint64 revision = start; revision <= end; ++revision)
        revisions.insert(int(revision));
}

} // namespace

Result<RevisionSet> readRevisionList(const QString &fileName, const std::function<int()> &latestRevision)
{
    RevisionSet revisions;
    if (fileName.isEmpty())
        return revisions;

    const QByteArray name = fileName.toLocal8Bit();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return Failure::fatal(QString::asprintf("Could not open file %s: %s", name.constData(),
                                                file.errorString().toLocal8Bit().constData()));
    }

    QRegExp linePattern(QStringLiteral("(\\d+)\\s*(?:-\\s*(\\d+|HEAD))?"), Qt::CaseSensitive, QRegExp::RegExp);
    LatestRevision latest(latestRevision);
    LineReader reader(file, fileName);
    QByteArray bytes;
    while (reader.readLine(bytes)) {
        const QString line = QString::fromUtf8(bytes.trimmed());
        QString first;
        QString last;
        if (linePattern.indexIn(line) != -1) {
            first = linePattern.cap(1);
            last = linePattern.cap(2);
        }
        if (last.isEmpty())
            addSingleRevision(line, first, revisions);
        else
            addRange(line, first, last, latest, revisions);
    }
    if (revisions.isEmpty()) {
        return Failure::fatal(QString::asprintf(
                "The revisions file %s names no revision to convert", name.constData()));
    }
    return revisions;
}
