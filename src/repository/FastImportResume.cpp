// Resuming: rebuilding the branch records from the log and marks files that
// earlier runs left behind.
#include "repository/FastImportRepository.h"

#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>
#include <QRegExp>

// The highest commit mark up to which the marks file lists every mark, one
// line each and in order; 0 when the file is missing or faulty.
void FastImportRepository::readLastValidMark(quint64 &lastValidMark) const
{
    lastValidMark = 0;
    const QString marksFileName = RepositoryFileNames::marksFilePath(repositoryName);
    QFile marksFile(marksFileName);
    if (!marksFile.open(QIODevice::ReadOnly))
        return;

    qDebug() << "marksfile " << marksFileName;
    int lineNumber = 0;
    while (!marksFile.atEnd()) {
        const QByteArray line = marksFile.readLine();
        ++lineNumber;

        const qsizetype blank = line.indexOf(' ');
        bool isNumber = false;
        quint64 mark = 0;
        if (line.startsWith(':') && blank > 0)
            mark = line.mid(1, blank - 1).toULongLong(&isNumber);
        if (!isNumber || mark == 0) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file corrupt?"
                        << "mark " << 0;
            lastValidMark = 0;
            return;
        }
        if (mark == lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file has duplicates";
            lastValidMark = 0;
            return;
        }
        if (mark < lastValidMark) {
            qCritical() << marksFileName << "line" << lineNumber << "marks file not sorted";
            lastValidMark = 0;
            return;
        }
        if (mark > lastValidMark + 1)
            return; // the first gap ends the commit marks
        lastValidMark = mark;
    }
}

int FastImportRepository::prepareResume(int &cutoff)
{
    QFile logFile(RepositoryFileNames::logFileNameFor(repositoryName));
    if (!logFile.exists() || !logFile.open(QIODevice::ReadWrite))
        return 1;

    quint64 lastValidMark = 0;
    readLastValidMark(lastValidMark);

    const QRegExp progressLine(QStringLiteral("progress SVN r(\\d+) branch (.*) = :(\\d+)"));
    int lastRevision = 0;
    while (!logFile.atEnd()) {
        const qint64 lineStart = logFile.pos();
        QByteArray line = logFile.readLine();
        const qsizetype comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;

        if (!progressLine.exactMatch(QString::fromUtf8(line)))
            continue;
        const int revision = progressLine.cap(1).toInt();
        const QString branch = progressLine.cap(2);
        const quint64 mark = progressLine.cap(3).toULongLong();

        if (revision >= cutoff)
            return truncateLog(logFile, lineStart, cutoff);

        if (revision < lastRevision)
            qWarning() << "WARN:" << repositoryName << "revision numbers are not monotonic: "
                       << "got" << QString::number(lastRevision) << "and then"
                       << QString::number(revision);

        if (mark > lastValidMark) {
            qWarning() << "WARN:" << repositoryName
                       << "unknown commit mark found: rewinding -- did you hit Ctrl-C?";
            cutoff = revision;
            return truncateLog(logFile, lineStart, cutoff);
        }

        if (mark > highestCommitMark)
            highestCommitMark = mark;
        BranchState &state = branchStates[branch];
        if (mark == 0 || state.createdRevision == 0 || state.commitMarks.isEmpty()
            || state.commitMarks.last() == 0)
            state.createdRevision = revision;
        state.commitRevisions.append(revision);
        state.commitMarks.append(int(mark));
        lastRevision = revision;
    }

    const int next = lastRevision + 1;
    if (next == cutoff)
        QFile::remove(logFile.fileName() + QStringLiteral(".old"));
    return next;
}

// Cuts the log before the line that starts at position, after saving a full
// copy beside it.
int FastImportRepository::truncateLog(QFile &logFile, qint64 position, int cutoff)
{
    const QString savedLog = logFile.fileName() + QStringLiteral(".old");
    QFile::remove(savedLog);
    QFile::copy(logFile.fileName(), savedLog);
    qDebug() << repositoryName << "truncating history to revision" << cutoff;
    logFile.resize(position);
    return cutoff;
}

void FastImportRepository::recoverLogFile()
{
    const QString logFileName = RepositoryFileNames::logFileNameFor(repositoryName);
    const QString savedLog = logFileName + QStringLiteral(".old");
    if (!QFile::exists(savedLog))
        return;
    QFile::remove(logFileName);
    QFile::rename(savedLog, logFileName);
}
