#include "RobustnessBench.h"

#include <QDir>
#include <QFile>

QByteArray trunkRulesFor(const QByteArray &repository)
{
    return "create repository " + repository + "\nend repository\nmatch /trunk/\nrepository " + repository
           + "\nbranch master\nend match\n";
}

QByteArray dumpProperties(const QList<QPair<QByteArray, QByteArray>> &properties)
{
    QByteArray text;
    for (const auto &property : properties)
        text += "K " + QByteArray::number(property.first.size()) + '\n' + property.first + "\nV "
                + QByteArray::number(property.second.size()) + '\n' + property.second + '\n';
    return text + "PROPS-END\n";
}

DumpBuilder::DumpBuilder()
{
    m_text = "SVN-fs-dump-format-version: 2\n\nUUID: 1b5bd2e1-0000-4000-8000-000000000001\n\n";
    revision(0, QByteArray(), QByteArray());
}

void DumpBuilder::revision(int number, const QByteArray &author, const QByteArray &log)
{
    const QByteArray date = "2020-01-01T10:00:00.000000Z";
    QByteArray when = QByteArray("2020-") + (number < 29 ? "01-" : "02-")
                      + QByteArray::number(number < 29 ? number + 1 : number - 27).rightJustified(2, '0')
                      + "T10:00:00.000000Z";
    QList<QPair<QByteArray, QByteArray>> properties;
    if (number == 0) {
        properties.append({"svn:date", date});
    } else {
        properties.append({"svn:author", author});
        properties.append({"svn:date", when});
        properties.append({"svn:log", log});
    }
    revision(number, properties);
}

void DumpBuilder::revision(int number, const QList<QPair<QByteArray, QByteArray>> &properties)
{
    const QByteArray props = dumpProperties(properties);
    m_text += "Revision-number: " + QByteArray::number(number) + "\nProp-content-length: "
              + QByteArray::number(props.size()) + "\nContent-length: "
              + QByteArray::number(props.size()) + "\n\n" + props + '\n';
}

void DumpBuilder::addDirectory(const QByteArray &path)
{
    const QByteArray props = dumpProperties({});
    m_text += "Node-path: " + path + "\nNode-kind: dir\nNode-action: add\nProp-content-length: "
              + QByteArray::number(props.size()) + "\nContent-length: "
              + QByteArray::number(props.size()) + "\n\n" + props + "\n\n";
}

void DumpBuilder::copyDirectory(const QByteArray &path, const QByteArray &from, int fromRevision)
{
    m_text += "Node-path: " + path + "\nNode-kind: dir\nNode-action: add\nNode-copyfrom-rev: "
              + QByteArray::number(fromRevision) + "\nNode-copyfrom-path: " + from + "\n\n\n";
}

void DumpBuilder::putFile(const QByteArray &path, const QByteArray &text, bool change)
{
    const QByteArray props = dumpProperties({});
    m_text += "Node-path: " + path + "\nNode-kind: file\nNode-action: "
              + (change ? QByteArray("change") : QByteArray("add")) + "\nProp-content-length: "
              + QByteArray::number(props.size()) + "\nText-content-length: "
              + QByteArray::number(text.size()) + "\nContent-length: "
              + QByteArray::number(props.size() + text.size()) + "\n\n" + props + text + "\n\n";
}

void DumpBuilder::remove(const QByteArray &path)
{
    m_text += "Node-path: " + path + "\nNode-action: delete\n\n\n";
}

bool loadDump(const QString &path, const QByteArray &dump)
{
    if (TestSupport::run(QStringLiteral("svnadmin"), {QStringLiteral("create"), path}).exitCode != 0)
        return false;
    const auto loaded = TestSupport::run(QStringLiteral("svnadmin"),
                                         {QStringLiteral("load"), QStringLiteral("-q"), path}, QString(), dump);
    if (loaded.exitCode != 0)
        qWarning("svnadmin load: %s", loaded.standardError.constData());
    return loaded.exitCode == 0;
}

QStringList snapshotOf(const QString &gitRepository)
{
    const QString script = QStringLiteral(
        "git for-each-ref --format='%(objectname) %(objecttype) %(refname)' | grep -v ' refs/notes/commits$';"
        "git notes list 2>/dev/null | while read n c; do echo \"note $c: $(git notes show $c | tr '\\n' '|')\"; done;"
        "for t in $(git for-each-ref --format='%(refname)' refs/tags); do git cat-file -p $t | tr '\\n' '|'; echo; done");
    const auto result = TestSupport::shell(script, gitRepository);
    return QString::fromUtf8(result.standardOutput).split('\n', Qt::SkipEmptyParts);
}
