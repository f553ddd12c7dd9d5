// A Subversion repository damaged on disk fails the run with Subversion's own
// error; the damage reaches no git history, and a dump stays a stream that
// git fast-import takes as it is.
#include "RobustnessBench.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class DamagedRepository : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
        ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnmucc")));
        ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
        ASSERT_TRUE(dir.isValid());
        TestSupport::writeFile(path("rules"), trunkRulesFor("proj"));
    }

    // r1 adds trunk/good.txt, r2 trunk/bad.txt, r3 trunk/later.txt. The
    // contents are stored uncompressed, so that they can be found in the
    // revision files and damaged there.
    void makeRepository()
    {
        const QString url = QStringLiteral("file://") + path("svnrepo");
        ASSERT_EQ(TestSupport::shell(QStringLiteral("svnadmin create --fs-type fsfs svnrepo && "
                                                    "printf '[deltification]\\ncompression = none\\n' "
                                                    ">> svnrepo/db/fsfs.conf"),
                                     dir.path())
                      .exitCode,
                  0);
        const QStringList commits = {
            QStringLiteral("svnmucc -U %1 -m one mkdir trunk put good.txt trunk/good.txt"),
            QStringLiteral("svnmucc -U %1 -m two put bad.txt trunk/bad.txt"),
            QStringLiteral("svnmucc -U %1 -m three put later.txt trunk/later.txt")};
        TestSupport::writeFile(path("good.txt"), "good contents\n");
        TestSupport::writeFile(path("bad.txt"), "contents that the disk will damage\n");
        TestSupport::writeFile(path("later.txt"), "later contents\n");
        for (const QString &commit : commits)
            ASSERT_EQ(TestSupport::shell(commit.arg(url), dir.path()).exitCode, 0);
    }

    // Changes one byte of the stored contents; the length stays, the
    // checksum no longer matches.
    void damageContents(int revision, const QByteArray &storedText)
    {
        const QString revisionFile = path(QStringLiteral("svnrepo/db/revs/0/%1").arg(revision));
        QByteArray bytes = TestSupport::readFile(revisionFile);
        const qsizetype at = bytes.indexOf(storedText);
        ASSERT_GE(at, 0) << "contents not found in " << revisionFile.toStdString();
        bytes[at] = 'X';
        TestSupport::writeFile(revisionFile, bytes);
    }

    TestSupport::CommandResult convert(const QString &workDir, const QStringList &extra = {})
    {
        QDir().mkpath(path(workDir));
        return TestSupport::run(TestSupport::tallowmereBinary(),
                                QStringList{QStringLiteral("--rules"), path("rules"),
                                            QStringLiteral("--identity-domain"),
                                            QStringLiteral("example.com")}
                                    + extra + QStringList{path("svnrepo")},
                                path(workDir));
    }

    QString git(const QString &repository, const QString &arguments)
    {
        return QString::fromUtf8(
            TestSupport::shell(QStringLiteral("git -C '%1' %2").arg(repository, arguments))
                .standardOutput.trimmed());
    }

    QString path(const QString &name) const { return dir.path() + '/' + name; }

    QTemporaryDir dir;
};

TEST_F(DamagedRepository, DamagedFileContentsFailTheRunBeforeTheirCommit)
{
    makeRepository();
    damageContents(2, "contents that the disk will damage");

    for (const bool dump : {false, true}) {
        SCOPED_TRACE(dump ? "--create-dump" : "git fast-import");
        const QString work = dump ? QStringLiteral("dump") : QStringLiteral("git");
        const auto result = convert(work, dump ? QStringList{QStringLiteral("--create-dump")}
                                               : QStringList{});
        EXPECT_EQ(result.exitCode, 1) << result.standardError.constData();
        // Subversion's error, and which file of which revision it is about.
        EXPECT_TRUE(result.standardError.contains("svn: E200014: Checksum mismatch"))
            << result.standardError.constData();
        EXPECT_TRUE(result.standardError.contains(
            "Cannot read the contents of \"/trunk/bad.txt\" in revision 2"))
            << result.standardError.constData();
        EXPECT_FALSE(result.standardError.contains("fast-import for repository"))
            << result.standardError.constData();
        // The revision fails, and the run goes no further.
        const qsizetype failing = result.standardOutput.indexOf("Exporting revision 2 ");
        ASSERT_GE(failing, 0) << result.standardOutput.constData();
        EXPECT_FALSE(result.standardOutput.mid(failing).contains(" done"))
            << result.standardOutput.constData();
        EXPECT_FALSE(result.standardOutput.contains("Exporting revision 3 "));

        QString gitRepository = path(work + "/proj");
        if (dump) {
            // The dump is a whole stream that git takes without complaint.
            gitRepository = path("from-dump");
            const auto imported = TestSupport::shell(
                QStringLiteral("git init -q --bare '%1' && git -C '%1' fast-import --quiet < '%2'")
                    .arg(gitRepository, path("dump/proj.fi")));
            EXPECT_EQ(imported.exitCode, 0) << imported.standardError.constData();
        } else {
            EXPECT_TRUE(TestSupport::fastImportFatalLines(path(work)).isEmpty())
                << TestSupport::fastImportFatalLines(path(work)).join('\n').toStdString();
        }
        EXPECT_EQ(git(gitRepository, QStringLiteral("rev-list --count master")), QStringLiteral("1"));
        EXPECT_EQ(git(gitRepository, QStringLiteral("ls-tree -r --name-only master")),
                  QStringLiteral("good.txt"));
        EXPECT_EQ(TestSupport::shell(QStringLiteral("git -C '%1' fsck --strict").arg(gitRepository))
                      .exitCode,
                  0);
    }
}

TEST_F(DamagedRepository, UnreadableLatestRevisionFailsTheRun)
{
    makeRepository();
    TestSupport::writeFile(path("svnrepo/db/current"), "xyz\n");

    const auto result = convert(QStringLiteral("work"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardError.contains("svn: E200022:")) << result.standardError.constData();
    EXPECT_TRUE(result.standardError.contains("Failed to read the latest revision of the repository"))
        << result.standardError.constData();
}

} // namespace
