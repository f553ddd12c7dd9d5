#include "E2eBench.h"

#include <QDir>
#include <QMap>
#include <gtest/gtest.h>

namespace {

const QByteArray mergeRules = R"(
create repository proj
end repository
match /trunk/
  repository proj
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
match /vendor/
end match
)";

// "r<revision> <branch path> <- <parents the same way>", one line per
// merge commit of the repository in directory, by revision.
QStringList mergeCommits(const QString &directory)
{
    const auto log = TestSupport::run(
            QStringLiteral("git"),
            {QStringLiteral("--git-dir=") + directory + QStringLiteral("/proj"),
             QStringLiteral("log"), QStringLiteral("--all"),
             QStringLiteral("--format=%H %P%n%B%x00")});
    QMap<QByteArray, QByteArray> names;
    QMap<int, QList<QByteArray>> parents;
    for (const QByteArray &entry : log.standardOutput.split('\0')) {
        const QList<QByteArray> lines = entry.trimmed().split('\n');
        const QList<QByteArray> hashes = lines.first().split(' ');
        for (const QByteArray &line : lines) {
            if (!line.startsWith("svn path="))
                continue;
            const int revision = line.mid(line.indexOf("revision=") + 9).toInt();
            names.insert(hashes.first(),
                         'r' + QByteArray::number(revision) + ' '
                                 + line.mid(9, line.indexOf(';') - 9));
            parents.insert(revision, hashes.mid(1));
        }
    }
    QStringList result;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        QByteArray line = "r" + QByteArray::number(it.key()) + " <-";
        for (const QByteArray &parent : it.value())
            line += ' ' + names.value(parent);
        result.append(QString::fromUtf8(line));
    }
    return result;
}

} // namespace

// A history of real "svn merge" runs: every full merge becomes a git merge;
// the cherry-pick, the subtree merge, the partial range and the merge from
// a path no rule exports stay plain commits and say what they merged. Three
// runs split by --max-rev give the refs of one.
TEST(EndToEndMergeInfo, SvnMergesBecomeGitMergesWhateverTheSplitOfTheRun)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svn")));
    const auto made = bench.makeHistory(QStringLiteral("make-merge-history"));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();

    const QString rules = bench.writeRules(QStringLiteral("merge.rules"), mergeRules);
    const QStringList options{"--rules", rules, "--svn-mergeinfo", "--add-metadata"};
    const auto whole = bench.convert(options);
    ASSERT_EQ(whole.exitCode, 0) << whole.standardError.constData();
    EXPECT_EQ(mergeCommits(bench.outputDirectory()),
              QStringList({"r8 <- r7 /branches/b1/ r5 /trunk/",
                           "r14 <- r9 /trunk/ r13 /branches/b1/ r12 /branches/b2/",
                           "r23 <- r22 /trunk/ r16 /branches/b1/",
                           "r24 <- r16 /branches/b1/ r23 /trunk/",
                           "r25 <- r19 /branches/b2/ r23 /trunk/"}));
    const QByteArray cherryPicks = bench.git(
            "proj", {"log", "--format=%s", "--grep=^svn cherry-pick=/branches/b1:6$", "master"});
    EXPECT_EQ(cherryPicks, QByteArray("r9 cherry-pick\n"));
    EXPECT_EQ(bench.git("proj", {"log", "--format=%b", "--grep=^r20 ", "master"}),
              QByteArray("svn path=/trunk/; revision=20\nsvn cherry-pick=/branches/b2:19\n\n"));

    const QString split = bench.path(QStringLiteral("split"));
    QDir().mkpath(split);
    for (const QString &maxRev : {QStringLiteral("9"), QStringLiteral("17"), QString()}) {
        QStringList arguments = options;
        if (!maxRev.isEmpty())
            arguments << QStringLiteral("--max-rev") << maxRev;
        const auto part = TestSupport::run(TestSupport::tallowmereBinary(),
                                           arguments << bench.repositoryPath(), split);
        ASSERT_EQ(part.exitCode, 0) << part.standardError.constData();
        EXPECT_TRUE(TestSupport::fastImportFatalLines(split).isEmpty());
    }
    const auto refs = [](const QString &directory) {
        return TestSupport::run(QStringLiteral("git"),
                                {QStringLiteral("--git-dir=") + directory + QStringLiteral("/proj"),
                                 QStringLiteral("for-each-ref")})
                .standardOutput;
    };
    EXPECT_EQ(refs(split), refs(bench.outputDirectory()));
    EXPECT_FALSE(refs(split).isEmpty());
}
