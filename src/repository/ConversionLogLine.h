#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A line of the conversion log that the converter writes into the stream as
// a progress command, so that fast-import echoes it once everything before
// it is in git:
//
//   "progress SVN rN branch B = :M"            a commit of branch B
//   "progress SVN rN branch B = :M # merge from :P :Q"   a commit with merges
//   "progress SVN rN branch B = :M # COMMENT"  a reset ("delete" for a deletion)
//   "progress SVN rN done"                     every command of revision N is before it
//
// This is the one place that knows the text of these lines: the converter
// writes them, a resumed run and the verifier read them.
class ConversionLogLine
{
public:
    enum class Kind { Other, Branch, Done };

    // The text of a branch line without its line feed; an empty comment
    // writes none.
    static QByteArray branchLine(int revision, const QByteArray &branch, qint64 mark,
                                 const QByteArray &comment = QByteArray());
    // The comment of a commit with the marks of its further parents.
    static QByteArray mergeComment(const QList<int> &mergeMarks);
    // The text of the line that ends a revision, without its line feed.
    static QByteArray doneLine(int revision);

    // Reads a line of the log, with or without its line feed; blanks around
    // it do not count. A branch name holds no blank, so the first " = :"
    // ends it, while the comment may hold anything.
    static ConversionLogLine parse(const QByteArray &line);
    // The revision of a line of a stream (a dump) that begins as a branch
    // line does; 0 for any other line.
    static int branchLineRevision(const QByteArray &line);

    Kind kind() const { return m_kind; }
    int revision() const { return m_revision; }
    QString branch() const { return m_branch; }
    quint64 mark() const { return m_mark; }
    // The text after the "#", without the blanks around it.
    QString comment() const { return m_comment; }
    // A commit, not a reset or a deletion: commits carry no comment or their
    // merge sources, while resets say where the branch came from or "delete".
    bool isCommit() const;
    bool isDeletion() const { return m_comment == QLatin1String("delete"); }
    // The marks of the further parents that a merge comment lists.
    QList<quint64> mergeParents() const;

private:
    Kind m_kind = Kind::Other;
    int m_revision = 0;
    QString m_branch;
    quint64 m_mark = 0;
    QString m_comment;
};
