// Subversion content that is unusual but legal must convert exactly, and a
// file of any size must pass through in bounded memory.
#include "RobustnessBench.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

// Runs the converter and returns its exit code, with the peak resident set
// (in KiB) of the converter and of every child it waited for.
int runMeasured(const QStringList &arguments, const QString &workingDirectory, long *peakKiB)
{
    std::vector<QByteArray> words{TestSupport::tallowmereBinary().toLocal8Bit()};
    for (const QString &argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray directory = workingDirectory.toLocal8Bit();

    const pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.constData()) != 0)
            _exit(127);
        freopen("/dev/null", "w", stdout);
        freopen("stderr.txt", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return -1;
    *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HostileContent, EmptyMessagesMissingPropertiesAndEmptyRevisions)
{
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
    QTemporaryDir dir;
    DumpBuilder dump;
    dump.revision(1, {{"svn:author", "alice"}, {"svn:date", "2020-01-01T10:00:00.000000Z"}, {"svn:log", "first"}});
    dump.addDirectory("trunk");
    dump.putFile("trunk/a", "a\n");
    // A revision that changes nothing, one with an empty message and no
    // author, one with no properties at all, one with an empty author.
    dump.revision(2, {{"svn:author", "alice"}, {"svn:date", "2020-01-02T10:00:00.000000Z"}, {"svn:log", "nothing"}});
    dump.revision(3, {{"svn:date", "2020-01-03T10:00:00.000000Z"}, {"svn:log", ""}});
    dump.putFile("trunk/b", "b\n");
    dump.revision(4, QList<QPair<QByteArray, QByteArray>>());
    dump.putFile("trunk/c", "c\n");
    dump.revision(5, {{"svn:author", ""}, {"svn:date", "2020-01-05T10:00:00.000000Z"}, {"svn:log", "\n"}});
    dump.putFile("trunk/d", "d\n");
    ASSERT_TRUE(loadDump(dir.path() + "/svn", dump.text()));
    TestSupport::writeFile(dir.path() + "/rules", trunkRulesFor("proj"));
    QDir().mkpath(dir.path() + "/work");

    const auto result = TestSupport::run(TestSupport::tallowmereBinary(),
                                         {QStringLiteral("--rules"), dir.path() + "/rules",
                                          QStringLiteral("--identity-domain"), QStringLiteral("example.com"),
                                          dir.path() + "/svn"},
                                         dir.path() + "/work");
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(result.standardOutput.contains("Exporting revision 2  nothing to do"));

    const QString git = dir.path() + "/work/proj";
    EXPECT_EQ(TestSupport::shell(QStringLiteral("git log --format='%an <%ae> %at [%B]' master"), git)
                  .standardOutput.toStdString(),
              std::string("nobody <nobody@localhost> 1578218400 [\n]\n"
                         "nobody <nobody@localhost> 0 [\n]\n"
                         "nobody <nobody@localhost> 1578045600 [\n]\n"
                         "alice <alice@example.com> 1577872800 [first\n]\n"));
    EXPECT_EQ(TestSupport::shell(QStringLiteral("git ls-tree --name-only master"), git).standardOutput,
              QByteArray("a\nb\nc\nd\n"));
    EXPECT_EQ(TestSupport::shell(QStringLiteral("git fsck --strict"), git).exitCode, 0);
}

// 512 MiB in one file, the largest size git fast-import holds whole in
// memory by default: the blob must be exact and no process may hold it.
TEST(HostileContent, HalfGibFileStreamsInBoundedMemory)
{
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
    QTemporaryDir dir;
    const qint64 size = qint64(512) << 20;
    const QString load = QStringLiteral(
        "svnadmin create svn && { printf 'SVN-fs-dump-format-version: 2\\n\\nRevision-number: 1\\n"
        "Prop-content-length: 56\\nContent-length: 56\\n\\nK 10\\nsvn:author\\nV 3\\nbob\\nK 7\\nsvn:log\\n"
        "V 3\\nbig\\nPROPS-END\\n\\nNode-path: trunk\\nNode-kind: dir\\nNode-action: add\\n\\n\\n"
        "Node-path: trunk/big\\nNode-kind: file\\nNode-action: add\\nText-content-length: %1\\n"
        "Content-length: %1\\n\\n'; head -c %1 /dev/zero; printf '\\n\\n'; } | svnadmin load -q svn")
                             .arg(size);
    ASSERT_EQ(TestSupport::shell(load, dir.path(), 300).exitCode, 0);
    TestSupport::writeFile(dir.path() + "/rules", trunkRulesFor("proj"));
    QDir().mkpath(dir.path() + "/work");

    long peakKiB = 0;
    const int exitCode = runMeasured({QStringLiteral("--rules"), dir.path() + "/rules",
                                      QStringLiteral("--identity-domain"), QStringLiteral("example.com"),
                                      QStringLiteral("--fast-import-timeout"), QStringLiteral("0"),
                                      dir.path() + "/svn"},
                                     dir.path() + "/work", &peakKiB);
    ASSERT_EQ(exitCode, 0) << TestSupport::readFile(dir.path() + "/work/stderr.txt").constData();
    // The peak of any one process, the converter's or a child's: converter
    // and fast-import together stay below twice that, 128 MiB.
    EXPECT_LT(peakKiB, 64 * 1024);

    const QString git = dir.path() + "/work/proj";
    EXPECT_EQ(TestSupport::shell(QStringLiteral("git config core.bigFileThreshold"), git).standardOutput,
              QByteArray("64m\n"));
    const QByteArray expected =
        TestSupport::shell(QStringLiteral("head -c %1 /dev/zero | git hash-object --stdin").arg(size), git, 300)
            .standardOutput;
    EXPECT_EQ(TestSupport::shell(QStringLiteral("git rev-parse master:big"), git).standardOutput, expected);
}

} // namespace
