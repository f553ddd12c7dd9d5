#pragma once

#include "repository/MarksFile.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

// What the log and marks files of one repository say was converted, read as
// a stream: memory grows with the number of branches, not with the history.
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

    // Reads the branch lines of logFile (ConversionLogLine; all other lines
    // are passed over) through once, and opens marksFile. Fails when the log
    // cannot be read, or the marks file when the log records a state.
    Status read(const QString &logFile, const QString &marksFile);

    // The last recorded state of each branch, by branch.
    const QMap<QString, State> &lastStates() const { return m_lastStates; }
    // How many states the log records, about: a resumed run may record some again.
    int stateCount() const { return m_stateCount; }

    // The next state in revision order, each (revision, branch) once, in the
    // order of their first lines within a revision; false after the last.
    bool next(State *state);
    // The commit of a mark, as forty hexadecimal digits; empty when unknown.
    QByteArray commitOf(quint64 mark) { return m_marks.commitOf(mark); }

private:
    bool readLine(QFile &file, State *state);
    bool nextInOrder(State *state);
    bool fillGroup();

    QMap<QString, State> m_lastStates;
    int m_stateCount = 0;
    MarksFile m_marks;
    QFile m_log;
    // Lines of a resumed run for revisions below one recorded before, by
    // revision; they are put in their revision's place.
    QMap<int, QList<State>> m_late;
    int m_highest = 0;
    bool m_peeked = false;
    State m_peek;
    QList<State> m_group;
    int m_groupPosition = 0;
};
