#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What the log and marks files of one repository say was converted.
class ConversionLog
{
public:
    // One recorded branch state: the last log line for its revision and branch.
    struct State
    {
        int revision = 0;
        QString branch;
        quint64 mark = 0; // 0: the branch was deleted
    };

    // Reads logFile ("progress SVN rREV branch NAME = :MARK [# comment]"
    // lines; all others are passed over) and marksFile (":MARK SHA" lines).
    bool read(const QString &logFile, const QString &marksFile, QString *error);

    // In log order, each (revision, branch) once.
    const QList<State> &states() const { return m_states; }
    // The commit of a mark, as forty hexadecimal digits; empty when unknown.
    QByteArray commitOf(quint64 mark) const { return m_commits.value(mark); }

private:
    QList<State> m_states;
    QHash<quint64, QByteArray> m_commits;
};
