#include "verify/ConversionLog.h"

#include <QFile>
#include <QRegularExpression>

bool ConversionLog::read(const QString &logFile, const QString &marksFile, QString *error)
{
    QFile log(logFile);
    if (!log.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the log file %1: %2").arg(logFile, log.errorString());
        return false;
    }
    static const QRegularExpression line(
            QStringLiteral("^progress SVN r(\\d+) branch (.*?) = :(\\d+)(?: # .*)?$"));
    QHash<QString, int> indexOf; // "revision\nbranch" to its place in m_states
    while (!log.atEnd()) {
        QByteArray text = log.readLine();
        if (!text.startsWith("progress SVN r"))
            continue;
        if (text.endsWith('\n'))
            text.chop(1);
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
        if (!match.hasMatch())
            continue;
        State state;
        state.revision = match.captured(1).toInt();
        state.branch = match.captured(2);
        state.mark = match.captured(3).toULongLong();
        // A revision done again after a resume is recorded again; the last line holds.
        const QString key = match.captured(1) + QLatin1Char('\n') + state.branch;
        auto known = indexOf.constFind(key);
        if (known != indexOf.constEnd()) {
            m_states[known.value()] = state;
        } else {
            indexOf.insert(key, m_states.size());
            m_states.append(state);
        }
    }

    QFile marks(marksFile);
    if (!marks.open(QIODevice::ReadOnly)) {
        if (!m_states.isEmpty()) {
            *error = QStringLiteral("cannot read the marks file %1: %2")
                             .arg(marksFile, marks.errorString());
            return false;
        }
        return true;
    }
    while (!marks.atEnd()) {
        const QByteArray text = marks.readLine().trimmed();
        const int blank = text.indexOf(' ');
        if (!text.startsWith(':') || blank < 0)
            continue;
        m_commits.insert(text.mid(1, blank - 1).toULongLong(), text.mid(blank + 1));
    }
    return true;
}
