#include "E2eBench.h"

#include <QDir>
#include <gtest/gtest.h>

E2eBench::E2eBench()
{
    if (!TestSupport::requireTool(QStringLiteral("svnadmin"))
        || !TestSupport::requireTool(QStringLiteral("svnmucc"))
        || !TestSupport::requireTool(QStringLiteral("git")))
        return;
    QDir().mkpath(outputDirectory());
    const auto result = TestSupport::run(QStringLiteral("svnadmin"),
                                         {QStringLiteral("create"), repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
    m_valid = result.exitCode == 0;
}

int E2eBench::commit(const QStringList &actions, const QString &message, const QString &user)
{
    QStringList arguments{QStringLiteral("-U"), QStringLiteral("file://") + repositoryPath(),
                          QStringLiteral("-m"), message, QStringLiteral("-u"), user};
    for (const QString &action : actions) {
        if (action.startsWith(QLatin1Char('@'))) {
            const QString file = path(QStringLiteral("content-%1").arg(++m_fileCounter));
            TestSupport::writeFile(file, action.mid(1).toUtf8());
            arguments.append(file);
        } else {
            arguments.append(action);
        }
    }
    const auto result = TestSupport::run(QStringLiteral("svnmucc"), arguments);
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
    if (result.exitCode != 0)
        return -1;
    const auto youngest = TestSupport::run(QStringLiteral("svnlook"),
                                           {QStringLiteral("youngest"), repositoryPath()});
    return youngest.standardOutput.trimmed().toInt();
}

void E2eBench::setRevisionProperty(int revision, const QString &name, const QByteArray &value)
{
    const QString file = path(QStringLiteral("revprop-%1").arg(++m_fileCounter));
    TestSupport::writeFile(file, value);
    const auto result = TestSupport::run(
            QStringLiteral("svnadmin"),
            {QStringLiteral("setrevprop"), repositoryPath(), QStringLiteral("-r"),
             QString::number(revision), name, file});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
}

QString E2eBench::writeRules(const QString &name, const QByteArray &text)
{
    const QString file = path(name);
    TestSupport::writeFile(file, text);
    return file;
}

TestSupport::CommandResult E2eBench::makeHistory(const QString &script)
{
    return TestSupport::shell(TestSupport::sourceDirectory() + QStringLiteral("/tests/support/")
                              + script + ' ' + repositoryPath() + ' '
                              + path(QStringLiteral("wc")));
}

TestSupport::CommandResult E2eBench::convert(const QStringList &options)
{
    const auto result = TestSupport::run(TestSupport::tallowmereBinary(),
                                         options + QStringList{repositoryPath()},
                                         outputDirectory());
    EXPECT_FALSE(result.crashed) << result.standardError.constData();
    const QStringList fatalLines = TestSupport::fastImportFatalLines(outputDirectory());
    EXPECT_TRUE(fatalLines.isEmpty()) << fatalLines.join('\n').toStdString();
    return result;
}

QByteArray E2eBench::git(const QString &repository, const QStringList &arguments, int *exitCode)
{
    const auto result = TestSupport::run(
            QStringLiteral("git"),
            QStringList{QStringLiteral("--git-dir=") + outputDirectory() + '/' + repository}
                    + arguments);
    if (exitCode)
        *exitCode = result.exitCode;
    return result.standardOutput;
}

QByteArray E2eBench::revParse(const QString &repository, const QString &commitish)
{
    int exitCode = 0;
    const QByteArray output = git(repository, {QStringLiteral("rev-parse"),
                                               QStringLiteral("--verify"), QStringLiteral("-q"),
                                               commitish + QStringLiteral("^{commit}")},
                                  &exitCode);
    return exitCode == 0 ? output.trimmed() : QByteArray();
}

QStringList E2eBench::tree(const QString &repository, const QString &commitish)
{
    const QByteArray output = git(repository, {QStringLiteral("ls-tree"), QStringLiteral("-r"),
                                               QStringLiteral("-z"), commitish});
    QStringList entries;
    for (const QByteArray &line : output.split('\0')) {
        if (line.isEmpty())
            continue;
        // "<mode> blob <object>\t<name>"
        const int tab = line.indexOf('\t');
        entries.append(QString::fromUtf8(line.mid(tab + 1)) + ' '
                       + QString::fromUtf8(line.left(line.indexOf(' '))));
    }
    entries.sort();
    return entries;
}

QByteArray E2eBench::fileAt(const QString &repository, const QString &commitish,
                            const QString &file)
{
    return git(repository, {QStringLiteral("cat-file"), QStringLiteral("blob"),
                            commitish + ':' + file});
}

QStringList E2eBench::refs(const QString &repository)
{
    const QByteArray output = git(repository, {QStringLiteral("for-each-ref"),
                                               QStringLiteral("--format=%(refname) %(objectname)")});
    QStringList lines = QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

bool E2eBench::fsckClean(const QString &repository)
{
    int exitCode = -1;
    git(repository, {QStringLiteral("fsck"), QStringLiteral("--strict")}, &exitCode);
    return exitCode == 0;
}
