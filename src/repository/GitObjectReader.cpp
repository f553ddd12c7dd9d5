#include "repository/GitObjectReader.h"

#include <QProcess>

GitObjectReader::GitObjectReader(const QString &gitDirectory)
    : directory(gitDirectory)
{
}

bool GitObjectReader::run(const QStringList &arguments, QByteArray *output) const
{
    QProcess git;
    git.setWorkingDirectory(directory);
    git.setStandardErrorFile(QProcess::nullDevice());
    git.start(QStringLiteral("git"), arguments, QIODevice::ReadOnly);
    if (!git.waitForFinished(-1) || git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0)
        return false;
    *output = git.readAllStandardOutput();
    return true;
}

QStringList GitObjectReader::annotatedTagNames() const
{
    QByteArray output;
    if (!run({QStringLiteral("for-each-ref"), QStringLiteral("--format=%(objecttype) %(refname)"),
              QStringLiteral("refs/tags/")},
             &output))
        return QStringList();
    QStringList names;
    const QByteArray prefix = "tag refs/tags/";
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith(prefix))
            names.append(QString::fromUtf8(line.mid(prefix.size())));
    }
    return names;
}

QByteArray GitObjectReader::objectContent(const QByteArray &type, const QByteArray &object) const
{
    QByteArray output;
    if (!run({QStringLiteral("cat-file"), QString::fromLatin1(type), QString::fromUtf8(object)}, &output))
        return QByteArray();
    return output;
}

QHash<QByteArray, QByteArray> GitObjectReader::notesOf(const QByteArray &notesCommit) const
{
    QHash<QByteArray, QByteArray> notes;
    QByteArray output;
    if (!run({QStringLiteral("ls-tree"), QStringLiteral("-r"), QString::fromLatin1(notesCommit)}, &output))
        return notes;
    // "<mode> blob <object>\t<path>"; a large notes tree fans out into
    // directories named by the first digits of the commit.
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        const QList<QByteArray> fields = line.left(tab).split(' ');
        if (tab < 0 || fields.size() != 3 || fields.at(1) != "blob")
            continue;
        QByteArray commit = line.mid(tab + 1);
        commit.replace('/', QByteArray());
        notes.insert(commit, fields.at(2));
    }
    return notes;
}
