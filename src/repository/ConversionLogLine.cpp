#include "repository/ConversionLogLine.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

const QLatin1String mergeFrom("merge from");

} // namespace

QByteArray ConversionLogLine::branchLine(int revision, const QByteArray &branch, qint64 mark,
                                         const QByteArray &comment)
{
    QByteArray line = "progress SVN r" + QByteArray::number(revision) + " branch " + branch
                      + " = :" + QByteArray::number(mark);
    if (!comment.isEmpty())
        line += " # " + comment;
    return line;
}

QByteArray ConversionLogLine::mergeComment(const QList<int> &mergeMarks)
{
    if (mergeMarks.isEmpty())
        return QByteArray();
    QByteArray comment = QByteArray(mergeFrom.data(), mergeFrom.size());
    for (int mark : mergeMarks)
        comment += " :" + QByteArray::number(mark);
    return comment;
}

QByteArray ConversionLogLine::doneLine(int revision)
{
    return "progress SVN r" + QByteArray::number(revision) + " done";
}

ConversionLogLine ConversionLogLine::parse(const QByteArray &line)
{
    static const QRegularExpression doneLinePattern(
        QRegularExpression::anchoredPattern(QStringLiteral("progress SVN r(\\d+) done")));
    static const QRegularExpression branchLinePattern(QRegularExpression::anchoredPattern(
        QStringLiteral("progress SVN r(\\d+) branch (.*?) = :(\\d+)(?: #(.*))?")));

    ConversionLogLine parsed;
    const QString text = QString::fromUtf8(line.trimmed());
    const QRegularExpressionMatch done = doneLinePattern.match(text);
    if (done.hasMatch()) {
        parsed.m_kind = Kind::Done;
        parsed.m_revision = done.captured(1).toInt();
        return parsed;
    }
    const QRegularExpressionMatch match = branchLinePattern.match(text);
    if (!match.hasMatch())
        return parsed;
    parsed.m_kind = Kind::Branch;
    parsed.m_revision = match.captured(1).toInt();
    parsed.m_branch = match.captured(2);
    parsed.m_mark = match.captured(3).toULongLong();
    parsed.m_comment = match.captured(4).trimmed();
    return parsed;
}

int ConversionLogLine::branchLineRevision(const QByteArray &line)
{
    static const QRegularExpression branchLineStart(
        QStringLiteral("^progress SVN r(\\d+) branch "));
    const QRegularExpressionMatch match = branchLineStart.match(QString::fromUtf8(line));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

bool ConversionLogLine::isCommit() const
{
    return m_kind == Kind::Branch && m_mark != 0
           && (m_comment.isEmpty() || m_comment.startsWith(mergeFrom));
}

QList<quint64> ConversionLogLine::mergeParents() const
{
    QList<quint64> parents;
    if (!m_comment.startsWith(mergeFrom))
        return parents;
    for (const QString &word : m_comment.mid(mergeFrom.size()).split(QLatin1Char(' '),
                                                                      Qt::SkipEmptyParts))
        parents.append(word.mid(1).toULongLong());
    return parents;
}
