#include "repository/GitObjectReader.h"

#include "repository/GitCommand.h"

GitObjectReader::GitObjectReader(const QString &gitDirectory)
    : m_directory(gitDirectory)
{
}

Result<QByteArray> GitObjectReader::run(const QStringList &arguments, const QByteArray &input) const
{
    const GitCommand git = GitCommand::run(arguments, m_directory, input);
    if (!git.succeeded())
        return Failure() << "git" << arguments.join(QLatin1Char(' ')) << "failed in" << m_directory;
    return git.output();
}

QStringList GitObjectReader::annotatedTagNames() const
{
    const Result<QByteArray> listed =
            run({QStringLiteral("for-each-ref"), QStringLiteral("--format=%(objecttype) %(refname)"),
                 QStringLiteral("refs/tags/")});
    if (!listed)
        return QStringList();
    const QByteArray &output = listed.value();
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
    const Result<QByteArray> content =
            run({QStringLiteral("cat-file"), QString::fromLatin1(type), QString::fromUtf8(object)});
    return content ? content.value() : QByteArray();
}

QHash<QByteArray, QByteArray> GitObjectReader::notesOf(const QByteArray &notesCommit) const
{
    QHash<QByteArray, QByteArray> notes;
    const Result<QByteArray> tree =
            run({QStringLiteral("ls-tree"), QStringLiteral("-r"), QString::fromLatin1(notesCommit)});
    if (!tree)
        return notes;
    const QByteArray &output = tree.value();
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

QHash<QByteArray, QByteArray> GitObjectReader::blobContents(const QList<QByteArray> &blobs) const
{
    return contentsOfType("blob", blobs);
}

QHash<QByteArray, QByteArray> GitObjectReader::contentsOfType(const QByteArray &type,
                                                              const QList<QByteArray> &blobs) const
{
    QHash<QByteArray, QByteArray> contents;
    if (blobs.isEmpty())
        return contents;
    const Result<QByteArray> batch =
            run({QStringLiteral("cat-file"), QStringLiteral("--batch")}, blobs.join('\n') + '\n');
    if (!batch)
        return contents;
    const QByteArray &output = batch.value();
    // Per object "<name> blob <size>\n<content>\n", or "<name> missing\n".
    qsizetype position = 0;
    while (position < output.size()) {
        const qsizetype lineEnd = output.indexOf('\n', position);
        if (lineEnd < 0)
            break;
        const QList<QByteArray> header = output.mid(position, lineEnd - position).split(' ');
        position = lineEnd + 1;
        if (header.size() != 3)
            continue;
        const qsizetype size = header.at(2).toLongLong();
        if (header.at(1) == type)
            contents.insert(header.at(0), output.mid(position, size));
        position += size + 1;
    }
    return contents;
}
