// Inputs that are wrong, damaged or hostile must end with a clear message,
// never with a crash, a hang or a false success.
#include "OutputCapture.h"
#include "RobustnessBench.h"

#include "rules/RulesFileSet.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(HostileInput, RepositoryPathThatIsNoSubversionRepository)
{
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
    QTemporaryDir dir;
    TestSupport::writeFile(dir.path() + "/rules", "create repository r\nend repository\n");
    QDir().mkpath(dir.path() + "/plain");
    QDir().mkpath(dir.path() + "/work");
    TestSupport::shell(QStringLiteral("git init -q gitrepo"), dir.path());
    for (const QString &name : {QStringLiteral("missing"), QStringLiteral("plain"), QStringLiteral("gitrepo")}) {
        const auto result = TestSupport::run(TestSupport::tallowmereBinary(),
                                             {QStringLiteral("--rules"), dir.path() + "/rules",
                                              QStringLiteral("--identity-domain"), QStringLiteral("x.org"),
                                              dir.path() + '/' + name},
                                             dir.path() + "/work");
        EXPECT_EQ(result.exitCode, 1) << name.toStdString();
        EXPECT_TRUE(result.standardError.contains("svn: ")) << result.standardError.constData();
        EXPECT_TRUE(result.standardError.contains("Failed to open repository")) << result.standardError.constData();
    }
}

// One random rules text: keywords, variables, includes, substitutions,
// regular expressions, binary bytes and long lines, valid or not.
QByteArray randomRules(QRandomGenerator &random, const QString &directory)
{
    static const char *pieces[] = {
        "create repository r\n", "end repository\n", "match /trunk/\n", "match /(b[^/]+)/\n",
        "match (((\n", "match [a-\n", "match /x{2,1}/\n", "end match\n", "repository r\n", "branch \\1\n",
        "branch master\n", "prefix /src\n", "description d\n", "action export\n", "action ignore\n",
        "action recurse\n", "action bogus\n", "annotated true\n", "min revision 5\n",
        "max revision 99999999999999\n", "declare V=x\n", "declare W=${V}y\n", "match /${V}/\n",
        "match /${U}/\n", "match /${U|d}/\n", "substitute branch s/a/b/\n", "substitute repository s/(/x/\n",
        "substitute branch nonsense\n", "include self.rules\n", "include other.rules\n",
        "include missing.rules\n", "# comment\n", "\n", "   \t \n", "END MATCH\n", "MATCH /a/\n",
        "create repository fwd\nrepository r\ndescription x\nend repository\n",
        "create repository fwd\nrepository r\nbranch b\nend repository\n", "\r\n", "${\n", "${V|\n",
    };
    QByteArray text;
    const int count = random.bounded(1, 12);
    for (int i = 0; i < count; ++i) {
        switch (random.bounded(10)) {
        case 0: {
            QByteArray bytes(random.bounded(1, 64), '\0');
            for (char &c : bytes)
                c = char(random.bounded(256));
            text += bytes;
            break;
        }
        case 1:
            text += "match /" + QByteArray(random.bounded(1, 20000), 'a') + "/\n";
            break;
        default:
            text += pieces[random.bounded(int(sizeof pieces / sizeof *pieces))];
        }
    }
    TestSupport::writeFile(directory + "/other.rules", random.bounded(2) ? "include self.rules\n" : "match /o/\nend match\n");
    return text;
}

bool recognisedFault(const QString &message)
{
    static const char *const messages[] = {"Could not read the rules file", "Undeclared variable",
                                     "Malformed line in rules file", "Malformed regular expression",
                                     "Malformed substitution", "Specifing repository and",
                                     "Invalid action", "includes itself"};
    for (const char *known : messages)
        if (message.contains(QLatin1String(known)))
            return true;
    return false;
}

// Loads the file; a fatal failure with one of the loader's messages is an
// accepted end, anything else (a crash or a hang included) is not.
QString loadProblem(const QString &fileName)
{
    // The loader's debug lines would flood the test's output.
    const TestSupport::MessageCapture quiet;
    RulesFileSet rules(fileName);
    const Status loaded = rules.load();
    if (loaded)
        return QString();
    const Failure &failure = loaded.failure();
    if (failure.isFatal() && recognisedFault(failure.message()))
        return QString();
    return QStringLiteral("unexpected failure: ") + failure.message().left(300);
}

TEST(HostileInput, TenThousandRandomRulesFilesLoadOrFailCleanly)
{
    QTemporaryDir dir;
    QRandomGenerator random(20261209);
    const QString selfName = dir.path() + "/self.rules";
    int failures = 0;
    for (int i = 0; i < 10000 && failures < 5; ++i) {
        const QByteArray text = randomRules(random, dir.path());
        TestSupport::writeFile(selfName, text);
        const QString problem = loadProblem(selfName);
        if (!problem.isEmpty()) {
            ++failures;
            ADD_FAILURE() << "rules file " << i << ": " << problem.toStdString() << "\ntext: "
                          << text.left(400).toStdString();
        }
    }
}

TEST(HostileInput, HugeAndBinaryRulesFiles)
{
    QTemporaryDir dir;
    QByteArray huge = "create repository r\nend repository\n";
    for (int i = 0; i < 50000; ++i)
        huge += "match /p" + QByteArray::number(i) + "/\n  repository r\n  branch b" + QByteArray::number(i) + "\nend match\n";
    TestSupport::writeFile(dir.path() + "/huge.rules", huge);
    EXPECT_EQ(loadProblem(dir.path() + "/huge.rules"), QString());

    QByteArray garbage(100000, '\0');
    QRandomGenerator random(7);
    for (char &c : garbage)
        c = char(random.bounded(256));
    TestSupport::writeFile(dir.path() + "/garbage.rules", garbage);
    EXPECT_EQ(loadProblem(dir.path() + "/garbage.rules"), QString());
}

TEST(HostileInput, BinaryIdentityMapAndRevisionList)
{
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
    QTemporaryDir dir;
    DumpBuilder dump;
    dump.revision(1, "al\nice <x>", "");
    dump.addDirectory("trunk");
    dump.putFile("trunk/-leading dash 'q' \"d\" \xc3\xa9.txt", "x\n");
    ASSERT_TRUE(loadDump(dir.path() + "/svnrepo", dump.text()));
    TestSupport::writeFile(dir.path() + "/rules", trunkRulesFor("r"));
    QByteArray binary("a\0b = N <n@x>\n", 14);
    binary += QByteArray(10 * 1024 * 1024, 'z') + "\n\xff\xfe\x00 = \x01\n";
    TestSupport::writeFile(dir.path() + "/ids", binary);
    TestSupport::writeFile(dir.path() + "/revs", binary + "1\n");
    QDir().mkpath(dir.path() + "/work");
    const auto result = TestSupport::run(TestSupport::tallowmereBinary(),
                                         {QStringLiteral("--rules"), dir.path() + "/rules",
                                          QStringLiteral("--identity-map"), dir.path() + "/ids",
                                          QStringLiteral("--revisions-file"), dir.path() + "/revs",
                                          dir.path() + "/svnrepo"},
                                         dir.path() + "/work");
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.exitCode, 0) << result.standardError.left(2000).constData();
    EXPECT_TRUE(result.standardError.contains("to int, skipping revision."));
    const auto files = TestSupport::shell(QStringLiteral("git ls-tree -r --name-only master"), dir.path() + "/work/r");
    EXPECT_TRUE(files.standardOutput.contains("leading dash")) << files.standardOutput.constData();
}

TEST(HostileInput, MissingGitFailsLoudly)
{
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
    QTemporaryDir dir;
    DumpBuilder dump;
    dump.revision(1, "alice", "one");
    dump.addDirectory("trunk");
    dump.putFile("trunk/a", "a\n");
    ASSERT_TRUE(loadDump(dir.path() + "/svnrepo", dump.text()));
    TestSupport::writeFile(dir.path() + "/rules", trunkRulesFor("r"));
    QDir().mkpath(dir.path() + "/bin");
    QDir().mkpath(dir.path() + "/work");
    QFile::link(QStringLiteral("/bin/cat"), dir.path() + "/bin/cat");
    const auto result = TestSupport::shell(
        QStringLiteral("PATH='%1/bin' exec '%2' --rules '%1/rules' --identity-domain x.org '%1/svnrepo'")
            .arg(dir.path(), TestSupport::tallowmereBinary()),
        dir.path() + "/work");
    EXPECT_NE(result.exitCode, 0) << result.standardError.constData();
    EXPECT_FALSE(result.standardError.isEmpty());
}

} // namespace
