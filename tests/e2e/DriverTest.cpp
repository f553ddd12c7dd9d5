#include "E2eBench.h"

#include "common/Version.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct CommandLineCase
{
    QStringList arguments;
    int exitCode;
    QByteArray standardOutputAfterEcho; // empty: only checked to begin with "Usage: "
    QByteArray standardError;
};

QByteArray echoLine(const QStringList &arguments)
{
    QByteArray line = "Invoked as:' " + TestSupport::tallowmereBinary().toLocal8Bit();
    for (const QString &argument : arguments)
        line += ' ' + argument.toLocal8Bit();
    return line + "'\n";
}

const QByteArray twoRepositoryRules = R"(
create repository one
end repository
create repository two
end repository
match /one/
  repository one
  branch master
end match
match /two/
  repository two
  branch master
end match
)";

} // namespace

// What the command line alone decides: the echo line, then version before
// help before the usage check before rejected options before a missing
// --rules, each with its exact text and exit code.
TEST(Driver, CommandLineOutcomes)
{
    const QByteArray usageStart = "Usage: " + TestSupport::tallowmereBinary().toLocal8Bit()
                                  + " [OPTION] [Path to subversion repo]\n\nOptions:\n";
    const QByteArray rejected =
            "tallowmere failed: unrecognized option or missing argument for; `bogus'\n"
            "          : unrecognized option or missing argument for; `rules'\n";
    const std::vector<CommandLineCase> cases = {
        {{"--help", "--version"}, 0, "Git version: " TALLOWMERE_VERSION "\n", ""},
        {{"--help"}, 0, "", ""},
        {{}, 12, "", ""},
        {{"--rules", "r", "a", "b"}, 12, "", ""},
        {{"--bogus", "repo", "--rules"}, 10, "", rejected},
        {{"repo"}, 11, "",
         "tallowmere failed: please specify the rules using the 'rules' argument\n"},
    };
    for (const CommandLineCase &c : cases) {
        const auto result = TestSupport::run(TestSupport::tallowmereBinary(), c.arguments);
        const std::string label = c.arguments.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, c.exitCode) << label;
        ASSERT_TRUE(result.standardOutput.startsWith(echoLine(c.arguments))) << label;
        const QByteArray output = result.standardOutput.mid(echoLine(c.arguments).size());
        if (c.standardOutputAfterEcho.isEmpty() && c.exitCode != 10 && c.exitCode != 11)
            EXPECT_TRUE(output.startsWith(usageStart)) << label << output.constData();
        else
            EXPECT_EQ(output, c.standardOutputAfterEcho) << label;
        EXPECT_EQ(result.standardError, c.standardError) << label;
    }
}

// A repository whose commits the marks file no longer has lowers the common
// cut-off: an earlier repository that could go on later is rewound with it,
// and the run converts again from there to the same result. A resume point
// beyond such a revision is refused.
TEST(Driver, ResumePassesAgreeAcrossRepositories)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "one", "mkdir", "two", "put", "@1", "one/f"}), 1);
    ASSERT_EQ(bench.commit({"put", "@2", "two/f"}), 2);
    ASSERT_EQ(bench.commit({"put", "@3", "one/f", "put", "@3", "two/f"}), 3);
    ASSERT_EQ(bench.commit({"put", "@4", "one/g"}), 4);
    const QString rules = bench.writeRules("two.rules", twoRepositoryRules);
    const QStringList options{"--rules", rules};

    ASSERT_EQ(bench.convert(options).exitCode, 0);
    const QStringList refsOne = bench.refs("one");
    const QStringList refsTwo = bench.refs("two");

    // Repository two forgets its second commit (revision 3).
    const QString marks = bench.outputDirectory() + "/two/marks-two";
    const QByteArray firstLine = TestSupport::readFile(marks).split('\n').constFirst();
    TestSupport::writeFile(marks, firstLine + '\n');

    const auto refused = bench.convert(options + QStringList{"--resume-from", "4"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.standardError.contains("Cannot resume from 4 as there are errors in "
                                               "revision 3"))
            << refused.standardError.constData();
    EXPECT_FALSE(refused.standardOutput.contains("Exporting revision"));

    const auto resumed = bench.convert(options);
    ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
    EXPECT_FALSE(resumed.standardOutput.contains("Exporting revision 2 "));
    EXPECT_TRUE(resumed.standardOutput.contains("Exporting revision 3 "));
    EXPECT_TRUE(resumed.standardOutput.contains("Exporting revision 4 "));
    EXPECT_EQ(bench.refs("one"), refsOne);
    EXPECT_EQ(bench.refs("two"), refsTwo);
}

// A message filter that fails ends the run at the commit, before the commit
// reaches git.
TEST(Driver, FailingMessageFilterEndsTheRun)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "one", "put", "@1", "one/f"}), 1);
    const QString rules = bench.writeRules("two.rules", twoRepositoryRules);

    const auto result = TestSupport::run(
            TestSupport::tallowmereBinary(),
            {"--rules", rules, "--msg-filter", "false", bench.repositoryPath()},
            bench.outputDirectory());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardError.contains("\nFilter false exited with status 1\n"))
            << result.standardError.constData();
    EXPECT_EQ(bench.git("one", {"rev-list", "--all"}), QByteArray());
}

// An input that cannot be used stops the run before any repository is
// created, with its message on a line of its own and exit code 1; a filter
// given as a command with arguments is run through the shell. Rules that
// export nothing are warned about.
TEST(Driver, UnusableInputsAndRulesThatExportNothing)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "one", "put", "@1", "one/f"}, "first"), 1);
    const QString rules = bench.writeRules("two.rules", twoRepositoryRules);
    const QString missing = bench.path("no-such-file");
    const QString comments = bench.path("comments.txt");
    TestSupport::writeFile(comments, "# to do\n");
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"--revisions-file", missing}, "Could not open file " + missing + ": No such file or directory"},
        {{"--revisions-file", comments}, "The revisions file " + comments + " names no revision to convert"},
        {{"--identity-map", missing}, "Could not open file " + missing + ": No such file or directory"},
        {{"--msg-filter", "tr-x a-z A-Z"},
         "Cannot start the message filter \"tr-x a-z A-Z\": tr-x: command not found"},
    };
    for (const auto &[options, message] : cases) {
        const auto result = bench.convert(QStringList{"--rules", rules} + options);
        const std::string label = options.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, 1) << label;
        const QStringList lines = QString::fromLocal8Bit(result.standardError).split('\n');
        EXPECT_TRUE(lines.contains(message)) << label << result.standardError.constData();
        EXPECT_FALSE(QFileInfo::exists(bench.outputDirectory() + "/one")) << label;
        EXPECT_FALSE(result.standardOutput.contains("Exporting revision")) << label;
    }

    const auto filtered = bench.convert({"--rules", rules, "--msg-filter", "tr a-z A-Z"});
    ASSERT_EQ(filtered.exitCode, 0) << filtered.standardError.constData();
    EXPECT_TRUE(TestSupport::fastImportFatalLines(bench.outputDirectory()).isEmpty());
    EXPECT_EQ(bench.git("one", {"log", "--format=%B", "master"}), QByteArray("FIRST\n\n"));

    const QString ignoring = bench.writeRules("ignore.rules", "create repository none\nend repository\n"
                                                              "match /\nend match\n");
    const QString alsoIgnoring = bench.writeRules("also.rules", "match /\nend match\n");
    const auto nothing = bench.convert({"--rules", ignoring + "," + alsoIgnoring});
    EXPECT_EQ(nothing.exitCode, 0);
    EXPECT_TRUE(nothing.standardError.contains(
            "WARN: no rule exported any path of revisions 1 to 1: the match rules of \""
            + ignoring.toLocal8Bit() + "\", \"" + alsoIgnoring.toLocal8Bit()
            + "\" ignore every path these revisions changed\n"))
            << nothing.standardError.constData();
}

// Two runs in one directory: the second stops at once, naming the process id
// of the first, and converts nothing; the first goes on to the end. A lock
// file that an ended run left behind is taken over.
TEST(Driver, OneConversionAtATimeInADirectory)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "one", "put", "@1", "one/f"}), 1);
    ASSERT_EQ(bench.commit({"mkdir", "two", "put", "@2", "two/f"}), 2);
    const QString rules = bench.writeRules("two.rules", twoRepositoryRules);
    // The first run's filter holds its first commit until the test opens the gate.
    const QString gate = bench.path("gate");
    const QString filter = bench.path("gated-filter");
    TestSupport::writeFile(filter, "#!/bin/sh\nwhile [ ! -e '" + gate.toLocal8Bit() + "' ]; do sleep 0.1; done\ncat\n");
    QFile::setPermissions(filter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess first;
    first.setWorkingDirectory(bench.outputDirectory());
    first.start(TestSupport::tallowmereBinary(),
                {"--rules", rules, "--msg-filter", filter, bench.repositoryPath()});
    ASSERT_TRUE(first.waitForStarted());
    const QString lockFile = bench.outputDirectory() + "/tallowmere.lock";
    const QByteArray firstPid = QByteArray::number(first.processId());
    while (TestSupport::readFile(lockFile) != firstPid + '\n' && first.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_EQ(TestSupport::readFile(lockFile), firstPid + '\n');

    for (const QStringList &mode : {QStringList(), QStringList{"--dry-run"}}) {
        const auto second = bench.convert(QStringList{"--rules", rules} + mode);
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_TRUE(second.standardError.contains("Another conversion (process " + firstPid
                                                  + ") is running in this directory; it holds the lock file "
                                                  + lockFile.toLocal8Bit() + ". Nothing was done.\n"))
                << second.standardError.constData();
        EXPECT_FALSE(second.standardOutput.contains("Exporting revision"));
    }

    TestSupport::writeFile(gate, "");
    ASSERT_TRUE(first.waitForFinished(-1));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().constData();
    EXPECT_TRUE(TestSupport::fastImportFatalLines(bench.outputDirectory()).isEmpty());
    EXPECT_EQ(bench.tree("one", "master"), QStringList{"f 100644"});
    EXPECT_EQ(bench.tree("two", "master"), QStringList{"f 100644"});
    EXPECT_FALSE(QFileInfo::exists(lockFile));

    // The id of a process that has ended.
    const QByteArray deadPid = TestSupport::shell("echo $$").standardOutput.trimmed();
    TestSupport::writeFile(lockFile, deadPid + '\n');
    ASSERT_EQ(bench.commit({"put", "@3", "one/g"}), 3);
    const auto takeover = bench.convert({"--rules", rules});
    EXPECT_EQ(takeover.exitCode, 0) << takeover.standardError.constData();
    EXPECT_TRUE(takeover.standardError.contains("WARN: taking over the lock file " + lockFile.toLocal8Bit()
                                                + " of process " + deadPid + " which no longer runs\n"))
            << takeover.standardError.constData();
    EXPECT_EQ(bench.tree("one", "master"), QStringList({"f 100644", "g 100644"}));
    EXPECT_FALSE(QFileInfo::exists(lockFile));
}
