#include "SvnTestBench.h"

#include "TestSupport.h"
#include "svn/IdentityMap.h"
#include "rules/RulesFile.h"
#include "svn/SvnSource.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

ExportOptions benchOptions;

} // namespace

void setOptions(const QStringList &words)
{
    benchOptions = ExportOptions();
    for (const QString &word : words) {
        if (word == QLatin1String("--debug-rules"))
            benchOptions.debugRules = true;
        else if (word == QLatin1String("--dry-run"))
            benchOptions.dryRun = true;
        else if (word == QLatin1String("--svn-branches"))
            benchOptions.svnBranches = true;
        else if (word == QLatin1String("--empty-dirs"))
            benchOptions.emptyDirs = true;
        else if (word == QLatin1String("--svn-ignore"))
            benchOptions.svnIgnore = true;
        else if (word == QLatin1String("--propcheck"))
            benchOptions.propcheck = true;
        else
            ADD_FAILURE() << "no such export option: " << word.toStdString();
    }
}

SvnTestBench::SvnTestBench()
{
    if (!TestSupport::requireTool(QStringLiteral("svnadmin"))
        || !TestSupport::requireTool(QStringLiteral("svnmucc")))
        return;
    const auto result = TestSupport::run(QStringLiteral("svnadmin"),
                                         {QStringLiteral("create"), repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
    m_valid = result.exitCode == 0;
    EXPECT_TRUE(SvnSource::initializeSvnLibraries().ok());
}

int SvnTestBench::commit(const QStringList &actions, const QString &message, const QString &user)
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

void SvnTestBench::setRevisionProperty(int revision, const QString &name, const QByteArray &value)
{
    const QString file = path(QStringLiteral("revprop-%1").arg(++m_fileCounter));
    TestSupport::writeFile(file, value);
    const auto result = TestSupport::run(
            QStringLiteral("svnadmin"),
            {QStringLiteral("setrevprop"), repositoryPath(), QStringLiteral("-r"),
             QString::number(revision), name, file});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
}

void SvnTestBench::deleteRevisionProperty(int revision, const QString &name)
{
    const auto result = TestSupport::run(
            QStringLiteral("svnadmin"),
            {QStringLiteral("delrevprop"), repositoryPath(), QStringLiteral("-r"),
             QString::number(revision), name});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
}

QList<MatchRule> SvnTestBench::rules(const QByteArray &text)
{
    const QString file = path(QStringLiteral("rules-%1.rules").arg(++m_rulesCounter));
    TestSupport::writeFile(file, text);
    RulesFile rulesFile(file);
    const Status loaded = rulesFile.load();
    EXPECT_TRUE(loaded.ok()) << loaded.failure().message().toStdString();
    return rulesFile.matchRules();
}

int SvnTestBench::convert(const QList<QList<MatchRule>> &ruleLists,
                          const QList<RecordingRepository *> &repositories, int first, int last,
                          QString *output, const IdentityMap &identities)
{
    Result<std::unique_ptr<SvnSource>> opened = SvnSource::open(repositoryPath());
    if (!opened) {
        ADD_FAILURE() << opened.failure().message().toStdString();
        return first;
    }
    SvnSource &source = *opened.value();
    source.assignOptions(benchOptions);
    QHash<QString, Repository *> table;
    for (RecordingRepository *repository : repositories)
        table.insert(repository->name(), repository);
    source.assignMatchRules(ruleLists);
    source.assignRepositories(table);
    source.assignIdentityMap(identities);
    source.assignIdentityDomain(QStringLiteral("example.com"));

    if (output)
        testing::internal::CaptureStdout();
    int failed = 0;
    for (int revision = first; revision <= last; ++revision) {
        if (Status status = source.convertRevision(revision); !status) {
            // As the driver reports it.
            if (!status.failure().wasReported())
                qCritical().noquote() << status.failure().message();
            failed = revision;
            break;
        }
    }
    if (output)
        *output = QString::fromStdString(testing::internal::GetCapturedStdout());
    return failed;
}
