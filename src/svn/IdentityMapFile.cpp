#include "svn/IdentityMapFile.h"

#include "svn/LineReader.h"

#include <QFile>
#include <QPair>

namespace {

// What git fast-import takes as an identity: a name, a blank and an address
// in angle brackets, with no further angle bracket, line break or NUL. The
// identity is written into a "committer" line as it stands, and anything else
// makes fast-import die, which costs every ref of the repository.
bool isGitIdentity(const QByteArray &identity)
{
    if (identity.contains('\0') || identity.contains('\n') || identity.contains('\r'))
        return false;
    const int open = identity.indexOf('<');
    if (open < 1 || identity.at(open - 1) != ' ' || !identity.endsWith('>'))
        return false;
    const QByteArray name = identity.left(open - 1);
    const QByteArray address = identity.mid(open + 1, identity.size() - open - 2);
    return !name.trimmed().isEmpty() && !name.contains('>') && !address.contains('<')
            && !address.contains('>');
}

// "jdoe = John Doe <jdoe@example.com>" or "jdoe John Doe <jdoe@example.com>".
// The name before " = " is kept as written, trailing blanks included.
QPair<QByteArray, QByteArray> splitEntry(const QByteArray &line)
{
    const int separator = line.indexOf(" = ");
    if (separator != -1)
        return {line.left(separator), line.mid(separator + 2).trimmed()};
    const int firstSpace = line.indexOf(' ');
    return {line.left(firstSpace), line.mid(firstSpace + 1).trimmed()};
}

QByteArray withoutLineBreak(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

Result<IdentityMapContents> readIdentityMap(const QString &fileName)
{
    IdentityMapContents contents;
    if (fileName.isEmpty())
        return contents;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return Failure::fatal(QString::asprintf("Could not open file %s: %s",
                                                fileName.toLocal8Bit().constData(),
                                                file.errorString().toLocal8Bit().constData()));
    }

    LineReader reader(file, fileName);
    QByteArray lineAsRead;
    while (reader.readLine(lineAsRead)) {
        QByteArray line = lineAsRead;
        const int commentStart = line.indexOf('#');
        if (commentStart != -1)
            line.truncate(commentStart);
        line = line.trimmed();
        // A line without a blank names nobody; only a space separates, not a tab.
        if (line.isEmpty() || !line.contains(' '))
            continue;
        const QPair<QByteArray, QByteArray> entry = splitEntry(line);
        if (isGitIdentity(entry.second))
            contents.identities.insert(entry.first, entry.second);
        else
            contents.rejectedLines.append({reader.lineNumber(), withoutLineBreak(lineAsRead)});
    }
    return contents;
}
