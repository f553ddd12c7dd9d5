// Interrupted conversions resumed with the same arguments must end with the
// same git history as one uninterrupted run.
#include "RobustnessBench.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray projectDump()
{
    DumpBuilder d;
    d.revision(1, "alice", "layout");
    d.addDirectory("trunk");
    d.addDirectory("branches");
    d.addDirectory("tags");
    d.addDirectory("releases");
    d.putFile("trunk/README", "readme\n");
    d.addDirectory("trunk/src");
    d.putFile("trunk/src/main.c", "int main;\n");
    d.putFile("trunk/old.txt", "old\n");
    d.revision(2, "bob", "edit 2");
    d.putFile("trunk/src/main.c", "int main; /* 2 */\n", true);
    // No branch is live between these two: a run ending at r3 leaves the
    // next one only the notes in git.
    d.revision(3, "alice", "drop trunk");
    d.remove("trunk");
    d.revision(4, "alice", "restore trunk");
    d.copyDirectory("trunk", "trunk", 2);
    d.revision(5, "bob", "edit 5");
    d.putFile("trunk/src/main.c", "int main; /* 5 */\n", true);
    d.revision(6, "alice", "branch feature");
    d.copyDirectory("branches/feature", "trunk", 5);
    d.revision(7, "carol", "feature work");
    d.putFile("branches/feature/f.txt", "feature 7\n");
    // git allows "#" in a branch name; the log must give it back whole.
    d.copyDirectory("branches/fix#1", "trunk", 5);
    d.revision(8, "carol", "feature and trunk");
    d.putFile("branches/feature/f.txt", "feature 8\n", true);
    d.putFile("trunk/README", "readme 8\n", true);
    d.revision(9, "alice", "tag v1.0");
    d.copyDirectory("tags/v1.0", "trunk", 8);
    d.revision(10, "bob", "delete old");
    d.remove("trunk/old.txt");
    d.putFile("trunk/src/util.c", "util\n");
    d.revision(11, "alice", "drop feature");
    d.remove("branches/feature");
    d.putFile("branches/fix#1/h.txt", "fix 11\n");
    d.revision(12, "bob", "trunk 12");
    d.putFile("trunk/src/util.c", "util 12\n", true);
    d.revision(13, "alice", "re-create feature");
    d.copyDirectory("branches/feature", "trunk", 12);
    for (int n = 14; n < 17; ++n) {
        d.revision(n, "carol", "feature " + QByteArray::number(n));
        d.putFile("branches/feature/g" + QByteArray::number(n) + ".txt", "g " + QByteArray::number(n) + "\n");
    }
    d.revision(17, "alice", "tag v2.0");
    d.copyDirectory("tags/v2.0", "branches/feature", 16);
    d.revision(18, "alice", "remove tag v1.0");
    d.remove("tags/v1.0");
    d.revision(19, "alice", "tag v1.0 again");
    d.copyDirectory("tags/v1.0", "trunk", 18);
    for (int n = 20; n < 31; ++n) {
        d.revision(n, n % 2 ? "bob" : "carol", "work " + QByteArray::number(n));
        d.putFile("trunk/src/main.c", "int main; /* " + QByteArray::number(n) + " */\n", true);
        if (n % 3 == 0)
            d.putFile("branches/feature/g14.txt", "g14 at " + QByteArray::number(n) + "\n", true);
        if (n == 21)
            d.copyDirectory("releases/v3", "trunk", 20);
        if (n == 23)
            d.remove("releases/v3");
        if (n == 25)
            d.remove("branches/feature/g15.txt");
        if (n == 26) {
            // Made again from trunk in the first revision of a run.
            d.remove("branches/feature");
            d.copyDirectory("branches/feature", "trunk", 25);
            d.putFile("branches/feature/g14.txt", "g14 again\n");
        }
        if (n == 27)
            d.copyDirectory("branches/stable", "trunk", 26);
        if (n == 29)
            d.putFile("branches/stable/s.txt", "stable\n");
    }
    return d.text();
}

const char *projectRules =
    "create repository proj\nend repository\n\n"
    "match /trunk/\n  repository proj\n  branch master\nend match\n\n"
    "match /branches/([^/]+)/\n  repository proj\n  branch \\1\nend match\n\n"
    "match /tags/([^/]+)/\n  repository proj\n  branch refs/tags/\\1\n  annotated true\nend match\n\n"
    "match /releases/([^/]+)/\n  repository proj\n  branch tag-\\1\n  annotated true\nend match\n";

class CrashResume : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svnadmin")));
        ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(loadDump(path("svnrepo"), projectDump()));
        TestSupport::writeFile(path("rules"), projectRules);
        TestSupport::writeFile(path("ids"), "alice = Alice A <alice@example.com>\n"
                                            "bob Bob B <bob@example.com>\n"
                                            "carol = Carol C <carol@example.com>\n");
        // Passes every message on unchanged; kills the converter (its parent)
        // at the KILL_AT_OCCURRENCE-th commit with the message that
        // KILL_AT_MESSAGE names, counting in the file KILL_COUNTER.
        TestSupport::writeFile(path("filter"),
                               "#!/bin/bash\n"
                               "text=$(cat; printf x); text=${text%x}\n"
                               "if [ -n \"$KILL_AT_MESSAGE\" ] && [ \"$text\" = \"$KILL_AT_MESSAGE\"$'\\n' ]; then\n"
                               "  seen=$(( $(cat \"$KILL_COUNTER\" 2>/dev/null || echo 0) + 1 ))\n"
                               "  echo $seen > \"$KILL_COUNTER\"\n"
                               "  if [ $seen -ge $KILL_AT_OCCURRENCE ]; then kill -KILL $PPID; exit 0; fi\n"
                               "fi\n"
                               "printf '%s' \"$text\"\n");
        QFile::setPermissions(path("filter"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(path("reference"));
        const auto result = convert(QStringLiteral("reference"), {});
        ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
        ASSERT_TRUE(TestSupport::fastImportFatalLines(path("reference")).isEmpty());
        reference = snapshotOf(path("reference/proj"));
        ASSERT_GT(reference.size(), 30);

        QDir().mkpath(path("dump"));
        const auto dumped = convert(QStringLiteral("dump"), {QStringLiteral("--create-dump")});
        ASSERT_EQ(dumped.exitCode, 0) << dumped.standardError.constData();
        QFile stream(path("dump/proj.fi"));
        ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
        streamLines = stream.readAll().count('\n');
        ASSERT_GT(streamLines, 500);
    }

    // Places to stop fast-import's input: early, spread over the revisions,
    // and in the last lines, where the annotated tags and the notes are
    // written while the repository is being finished.
    QList<int> killPoints() const
    {
        return {40, streamLines / 4, streamLines / 2, streamLines * 3 / 4, streamLines - 30, streamLines - 3};
    }

    QString path(const QString &name) const { return dir.path() + '/' + name; }

    TestSupport::CommandResult convert(const QString &workDir, const QStringList &extra,
                                       const QString &pathPrefix = QString())
    {
        QStringList arguments{QStringLiteral("--rules"), path("rules"), QStringLiteral("--add-metadata-notes"),
                              QStringLiteral("--identity-map"), path("ids"),
                              QStringLiteral("--commit-interval"), QStringLiteral("3")};
        arguments << QStringLiteral("--msg-filter") << path("filter") << extra << path(svnRepository);
        QString command = QStringLiteral("exec ");
        if (!pathPrefix.isEmpty())
            command = QStringLiteral("PATH='%1':\"$PATH\" exec ").arg(pathPrefix);
        if (!killAtMessage.isEmpty()) {
            const QStringList parts = killAtMessage.split(QLatin1Char('#'));
            command = QStringLiteral("KILL_AT_MESSAGE='%1' KILL_AT_OCCURRENCE=%2 KILL_COUNTER='%3' ")
                          .arg(parts.first(), parts.value(1, QStringLiteral("1")), path(workDir + "/kill-counter"))
                      + command;
        }
        command += '\'' + TestSupport::tallowmereBinary() + '\'';
        for (const QString &argument : arguments)
            command += QStringLiteral(" '%1'").arg(argument);
        return TestSupport::shell(command, path(workDir));
    }

    // A git in front of the real one that hands fast-import only the first
    // lines of its input and then kills the converter with the signal.
    QString interruptingGit(int lines, const QString &signal, bool killImporter)
    {
        const QString binDir = path(QStringLiteral("bin-%1-%2-%3").arg(lines).arg(signal).arg(killImporter));
        QDir().mkpath(binDir);
        const QString realGit = TestSupport::shell(QStringLiteral("command -v git")).standardOutput.trimmed();
        QByteArray script = "#!/bin/bash\n"
                            "if [ \"$1\" != fast-import ]; then exec " + realGit.toUtf8() + " \"$@\"; fi\n"
                            "parent=$PPID\n"
                            "head -n " + QByteArray::number(lines) + " | { " + realGit.toUtf8() + " \"$@\" & pid=$!; ";
        script += "cat >/dev/null & wait $pid; }\n"
                  "kill -" + signal.toUtf8() + " $parent 2>/dev/null\n";
        if (killImporter) {
            // fast-import must not finish cleanly: rebuild the wrapper so it is killed first.
            script = "#!/bin/bash\n"
                     "if [ \"$1\" != fast-import ]; then exec " + realGit.toUtf8() + " \"$@\"; fi\n"
                     "parent=$PPID\n"
                     "fifo=$(mktemp -u); mkfifo $fifo\n"
                     + realGit.toUtf8() + " \"$@\" < $fifo & pid=$!\n"
                     "head -n " + QByteArray::number(lines) + " > $fifo\n"
                     "kill -KILL $pid; kill -" + signal.toUtf8() + " $parent 2>/dev/null; rm -f $fifo\n"
                     "wait $pid\n";
        }
        TestSupport::writeFile(binDir + "/git", script);
        QFile::setPermissions(binDir + "/git", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return binDir;
    }

    QTemporaryDir dir;
    QStringList reference;
    int streamLines = 0;
    // Of the commit at which convert() kills the converter; "#2": the second
    // commit with that message (of the same revision).
    QString killAtMessage;
    QString svnRepository = QStringLiteral("svnrepo");
};

// How a run is interrupted: the signal sent to the converter, whether
// fast-import is killed first, and where; or (signal null) the converter
// alone killed with SIGKILL while it writes the commit with that message,
// so that fast-import finishes on its own with everything sent before.
struct Interruption
{
    const char *signal;
    bool killImporter;
    int point; // index into killPoints()
    const char *message;
};

std::string nameOf(const ::testing::TestParamInfo<Interruption> &info)
{
    const Interruption &i = info.param;
    if (!i.signal)
        return "ConverterKilledAt_"
               + QString::fromLatin1(i.message).replace(' ', '_').replace('#', QLatin1String("_commit")).toStdString();
    return std::string(i.signal) + (i.killImporter ? "_ImporterKilled_" : "_") + "Point"
           + std::to_string(i.point);
}

// What gtest prints for the parameter next to the test's name.
void PrintTo(const Interruption &interruption, std::ostream *out)
{
    *out << nameOf(::testing::TestParamInfo<Interruption>(interruption, 0));
}

class CrashResumeAt : public CrashResume, public ::testing::WithParamInterface<Interruption>
{
};

// The lock files that a run stopped for, as its messages name them.
QStringList namedLockFiles(const QByteArray &standardError)
{
    static const QRegularExpression lockMessage(QStringLiteral("is locked by \"([^\"]+)\""));
    QStringList locks;
    for (auto match = lockMessage.globalMatch(QString::fromUtf8(standardError)); match.hasNext();)
        locks << match.next().captured(1);
    return locks;
}

// Tag notes written by the end of an intermediate run stay on the commit a
// tag pointed to then, even when the tag is later made again elsewhere; such
// lines are the one accepted difference.
QStringList withoutStaleTagNotes(const QStringList &snapshot, const QStringList &reference)
{
    QStringList result;
    for (QString line : snapshot) {
        if (line.startsWith(QStringLiteral("note ")) && !reference.contains(line)) {
            QStringList parts = line.split('|');
            parts.removeIf([&](const QString &part) {
                return part.contains(QStringLiteral("; tag=")) && !reference.join('\n').contains(part + '|');
            });
            line = parts.join('|');
        }
        result << line;
    }
    return result;
}

TEST_F(CrashResume, RunsSplitByMaxRevEndLikeOneRun)
{
    QDir().mkpath(path("split"));
    for (const char *maxRev : {"3", "5", "10", "17", "25"}) {
        const auto result = convert(QStringLiteral("split"), {QStringLiteral("--max-rev"), QString::fromLatin1(maxRev)});
        ASSERT_EQ(result.exitCode, 0) << maxRev << result.standardError.constData();
    }
    const auto result = convert(QStringLiteral("split"), {});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_EQ(withoutStaleTagNotes(snapshotOf(path("split/proj")), reference), reference);
}

// The converter dies at a fixed place of the stream, with or without
// fast-import dying first; one resume with the same arguments must reach the
// uninterrupted result: refs, tag objects, notes and backups.
TEST_P(CrashResumeAt, KilledRunResumesToTheSameResult)
{
    const Interruption c = GetParam();
    const QString work = QString::fromStdString("kill-" + nameOf(::testing::TestParamInfo<Interruption>(c, 0)));
    QDir().mkpath(path(work));
    QString wrapper;
    if (c.signal)
        wrapper = interruptingGit(killPoints().at(c.point), QString::fromLatin1(c.signal), c.killImporter);
    else
        killAtMessage = QString::fromLatin1(c.message);
    const auto interrupted = convert(work, {}, wrapper);
    killAtMessage.clear();
    ASSERT_NE(interrupted.exitCode, 0) << work.toStdString() << " was not interrupted";
    // A fast-import whose converter was killed still finishes its input and
    // appends to the log; the resume starts after it, as a user's would.
    TestSupport::shell(QStringLiteral("for i in $(seq 300); do busy=0; for p in /proc/[0-9]*; do "
                                      "[ \"$(readlink $p/cwd 2>/dev/null)\" = \"$PWD/proj\" ] && busy=1; done; "
                                      "[ $busy = 0 ] && break; sleep 0.1; done"),
                       path(work));
    // A fast-import handed a stream cut short says so; the resumed run must
    // add no such line of its own.
    const QStringList interruptedFatal = TestSupport::fastImportFatalLines(path(work));
    auto resumed = convert(work, {});
    // A fast-import killed while it updated a ref leaves git's lock file
    // behind. The run names it and converts nothing; the user removes it.
    const QStringList locks = namedLockFiles(resumed.standardError);
    if (resumed.exitCode == 1 && !locks.isEmpty()) {
        for (const QString &lock : locks)
            EXPECT_TRUE(QFile::remove(path(work + '/' + lock))) << lock.toStdString();
        resumed = convert(work, {});
    }
    ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
    // Each may stand in the log and in the saved copy of the log it was cut from.
    const auto withoutFileName = [](QStringList lines) {
        for (QString &line : lines)
            line = line.section(QStringLiteral(": "), 1);
        return lines;
    };
    QStringList resumedFatal = withoutFileName(TestSupport::fastImportFatalLines(path(work)));
    for (const QString &line : withoutFileName(interruptedFatal)) {
        resumedFatal.removeOne(line);
        resumedFatal.removeOne(line);
    }
    EXPECT_TRUE(resumedFatal.isEmpty()) << resumedFatal.join('\n').toStdString();
    EXPECT_EQ(snapshotOf(path(work + "/proj")).join(QLatin1Char('\n')).toStdString(),
              reference.join(QLatin1Char('\n')).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Interruptions, CrashResumeAt,
    ::testing::Values(Interruption{"KILL", true, 0, nullptr}, Interruption{"KILL", true, 1, nullptr},
                      Interruption{"KILL", true, 2, nullptr}, Interruption{"KILL", true, 3, nullptr},
                      Interruption{"KILL", true, 4, nullptr}, Interruption{"KILL", true, 5, nullptr},
                      Interruption{"KILL", false, 0, nullptr}, Interruption{"KILL", false, 1, nullptr},
                      Interruption{"KILL", false, 2, nullptr}, Interruption{"KILL", false, 3, nullptr},
                      Interruption{"KILL", false, 4, nullptr}, Interruption{"KILL", false, 5, nullptr},
                      Interruption{"INT", true, 0, nullptr}, Interruption{"INT", true, 1, nullptr},
                      Interruption{"INT", true, 2, nullptr}, Interruption{"INT", true, 3, nullptr},
                      Interruption{"INT", true, 4, nullptr}, Interruption{"INT", true, 5, nullptr},
                      Interruption{"INT", false, 0, nullptr}, Interruption{"INT", false, 1, nullptr},
                      Interruption{"INT", false, 2, nullptr}, Interruption{"INT", false, 3, nullptr},
                      Interruption{"INT", false, 4, nullptr}, Interruption{"INT", false, 5, nullptr},
                      Interruption{nullptr, false, 0, "edit 5"},
                      Interruption{nullptr, false, 0, "feature 15"},
                      Interruption{nullptr, false, 0, "work 22"},
                      // Between two commits of one revision; the second one
                      // follows a re-creation of its branch.
                      Interruption{nullptr, false, 0, "feature and trunk#2"},
                      Interruption{nullptr, false, 0, "work 26#2"}),
    nameOf);

// Lock files in the repository: one that goes within a few seconds is a
// fast-import of an earlier run still finishing, and the run waits for it;
// one that stays stops the run before anything is converted, named in the
// message, until the user removes it.
TEST_F(CrashResume, LeftLockFilesStopTheRunUntilRemoved)
{
    const QString work = QStringLiteral("locked");
    QDir().mkpath(path(work));
    ASSERT_EQ(convert(work, {QStringLiteral("--max-rev"), QStringLiteral("10")}).exitCode, 0);

    // Taken away shortly after the run has started.
    const QString binDir = path(QStringLiteral("bin-unlocking"));
    QDir().mkpath(binDir);
    const QString realGit = TestSupport::shell(QStringLiteral("command -v git")).standardOutput.trimmed();
    TestSupport::writeFile(binDir + "/git",
                           "#!/bin/bash\n"
                           "if [ \"$1 $2\" = 'config init.defaultBranch' ]; then\n"
                           "  (sleep 0.5; rm -f proj/refs/heads/master.lock) </dev/null >/dev/null 2>&1 &\n"
                           "fi\n"
                           "exec " + realGit.toUtf8() + " \"$@\"\n");
    QFile::setPermissions(binDir + "/git", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    TestSupport::writeFile(path(work + "/proj/refs/heads/master.lock"), "");
    const auto waited = convert(work, {QStringLiteral("--max-rev"), QStringLiteral("20")}, binDir);
    ASSERT_EQ(waited.exitCode, 0) << waited.standardError.constData();

    const QStringList left{QStringLiteral("proj/packed-refs.lock"), QStringLiteral("proj/refs/notes/commits.lock")};
    for (const QString &lock : left)
        TestSupport::writeFile(path(work + '/' + lock), "");
    const QByteArray logBefore = TestSupport::readFile(path(work + "/log-proj"));
    const QStringList before = snapshotOf(path(work + "/proj"));
    const auto stopped = convert(work, {});
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(namedLockFiles(stopped.standardError), left) << stopped.standardError.constData();
    EXPECT_TRUE(stopped.standardError.contains("Nothing was converted; if no other conversion or git command runs in "
                                               "the repository, remove the file and run again"))
        << stopped.standardError.constData();
    EXPECT_FALSE(stopped.standardOutput.contains("Exporting revision")) << stopped.standardOutput.constData();
    EXPECT_EQ(TestSupport::readFile(path(work + "/log-proj")), logBefore);
    EXPECT_EQ(snapshotOf(path(work + "/proj")), before);

    for (const QString &lock : left)
        ASSERT_TRUE(QFile::remove(path(work + '/' + lock)));
    const auto resumed = convert(work, {});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
    EXPECT_TRUE(TestSupport::fastImportFatalLines(path(work)).isEmpty());
    EXPECT_EQ(withoutStaleTagNotes(snapshotOf(path(work + "/proj")), reference).join('\n').toStdString(),
              reference.join('\n').toStdString());
}

// A dump made in three runs imports to the history of a dump made in one.
// Its branches are made again from others, so it is imported, as the
// converter runs fast-import, with --force.
TEST_F(CrashResume, ResumedDumpImportsLikeOneDump)
{
    QDir().mkpath(path("split-dump"));
    for (const QStringList &extra : {QStringList{QStringLiteral("--max-rev"), QStringLiteral("1")},
                                     QStringList{QStringLiteral("--max-rev"), QStringLiteral("17")},
                                     QStringList()}) {
        const auto result = convert(QStringLiteral("split-dump"), QStringList{QStringLiteral("--create-dump")} + extra);
        ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    }
    const QString import = QStringLiteral("git init -q --bare imported && cd imported && git fast-import --force --quiet < ../proj.fi");
    const auto whole = TestSupport::shell(import, path("dump"));
    ASSERT_EQ(whole.exitCode, 0) << whole.standardError.constData();
    const auto imported = TestSupport::shell(import, path("split-dump"));
    ASSERT_EQ(imported.exitCode, 0) << imported.standardError.constData();
    EXPECT_EQ(snapshotOf(path("split-dump/imported")).join('\n').toStdString(),
              snapshotOf(path("dump/imported")).join('\n').toStdString());
}

// fast-import writes refs and marks only at checkpoints: killed after one, it
// loses the ref updates made since, the backup and the deletion of r11's
// "feature" among them. A run ending at r11 leaves only that deletion after
// the last commit it kept; one ending at r12 a commit git does not know too.
TEST_F(CrashResume, RefUpdatesLostAfterACheckpointAreMadeAgain)
{
    const QString saveRefs = QStringLiteral("git for-each-ref --format='create %(refname) %(objectname)' > ../refs"
                                            " && cp marks-proj ../marks");
    const QString restoreRefs = QStringLiteral("git for-each-ref --format='delete %(refname)' | git update-ref --stdin"
                                               " && git update-ref --stdin < ../refs && cp ../marks marks-proj");
    for (const char *lostUntil : {"11", "12"}) {
        const QString work = QStringLiteral("lost-") + QLatin1String(lostUntil);
        QDir().mkpath(path(work));
        for (const char *maxRev : {"10", lostUntil}) {
            const auto result = convert(work, {QStringLiteral("--max-rev"), QLatin1String(maxRev)});
            ASSERT_EQ(result.exitCode, 0) << maxRev << result.standardError.constData();
            if (QByteArray(maxRev) == "10") {
                ASSERT_EQ(TestSupport::shell(saveRefs, path(work + "/proj")).exitCode, 0);
            }
        }
        ASSERT_EQ(TestSupport::shell(restoreRefs, path(work + "/proj")).exitCode, 0);

        const auto resumed = convert(work, {QStringLiteral("--max-rev"), QStringLiteral("12")});
        ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
        const auto refs = TestSupport::shell(QStringLiteral("git for-each-ref --format='%(refname)'"), path(work + "/proj"));
        EXPECT_TRUE(refs.standardOutput.contains("refs/tags/backups/feature@11\n")) << lostUntil;
        EXPECT_FALSE(refs.standardOutput.contains("refs/heads/feature\n")) << lostUntil;
        const auto finished = convert(work, {});
        ASSERT_EQ(finished.exitCode, 0) << finished.standardError.constData();
        EXPECT_TRUE(TestSupport::fastImportFatalLines(path(work)).isEmpty()) << lostUntil;
        EXPECT_EQ(withoutStaleTagNotes(snapshotOf(path(work + "/proj")), reference).join('\n').toStdString(),
                  reference.join('\n').toStdString()) << lostUntil;
    }
}

// Once the last annotated tag is deleted, later runs must not bring it back:
// neither the one under refs/tags/ nor the one on a plain branch name.
TEST_F(CrashResume, DeletedTagsStayDeletedInLaterRuns)
{
    DumpBuilder d;
    d.revision(1, "alice", "layout");
    d.addDirectory("trunk");
    d.addDirectory("tags");
    d.addDirectory("releases");
    d.putFile("trunk/README", "readme\n");
    d.revision(2, "alice", "tag and release");
    d.copyDirectory("tags/v1", "trunk", 1);
    d.copyDirectory("releases/r1", "trunk", 1);
    d.revision(3, "alice", "untag");
    d.remove("tags/v1");
    d.remove("releases/r1");
    d.revision(4, "bob", "edit");
    d.putFile("trunk/README", "readme 4\n", true);
    ASSERT_TRUE(loadDump(path("tagrepo"), d.text()));
    svnRepository = QStringLiteral("tagrepo");

    QDir().mkpath(path("tags-once"));
    ASSERT_EQ(convert(QStringLiteral("tags-once"), {}).exitCode, 0);
    const QStringList once = snapshotOf(path("tags-once/proj"));
    EXPECT_FALSE(once.join('\n').contains(QStringLiteral(" refs/tags/v1\n")));
    EXPECT_FALSE(once.join('\n').contains(QStringLiteral(" refs/tags/tag-r1\n")));

    QDir().mkpath(path("tags-split"));
    for (const char *maxRev : {"2", "3", "0"}) {
        const auto result = convert(QStringLiteral("tags-split"), {QStringLiteral("--max-rev"), QLatin1String(maxRev)});
        ASSERT_EQ(result.exitCode, 0) << maxRev << result.standardError.constData();
        EXPECT_TRUE(TestSupport::fastImportFatalLines(path("tags-split")).isEmpty()) << maxRev;
    }
    EXPECT_FALSE(QFile::exists(path("tags-split/proj/annotatedTags-proj")));
    EXPECT_EQ(withoutStaleTagNotes(snapshotOf(path("tags-split/proj")), once).join('\n').toStdString(),
              once.join('\n').toStdString());
}

// The state files a run leaves behind, damaged between two runs: the next run
// says so, rebuilds what it needs from git, and ends like one uninterrupted run.
TEST_F(CrashResume, DamagedStateFilesAreRebuilt)
{
    // An empty marks file is what a new repository starts with; an empty or
    // cut log only means more revisions to convert again.
    struct StateFile { const char *name; const char *warning; bool emptyIsValid; };
    const StateFile files[] = {
        {"proj/marks-proj", "the damaged marks file was kept as", true},
        {"log-proj", nullptr, true},
        {"proj/annotatedTags-proj", "the annotated tags file \"proj/annotatedTags-proj\" is damaged", false},
        {"proj/branchNotes-proj", "the branch notes file \"proj/branchNotes-proj\" is damaged", false},
    };
    QRandomGenerator random(20261209);
    for (const StateFile &file : files) {
        for (const char *damage : {"empty", "truncated", "random"}) {
            const QString work = QStringLiteral("damaged-%1-%2")
                                     .arg(QString::fromLatin1(file.name).section('/', -1), QLatin1String(damage));
            SCOPED_TRACE(work.toStdString());
            QDir().mkpath(path(work));
            const auto first = convert(work, {QStringLiteral("--max-rev"), QStringLiteral("20")});
            ASSERT_EQ(first.exitCode, 0) << first.standardError.constData();

            const QString damaged = path(work + '/' + QLatin1String(file.name));
            QByteArray contents = TestSupport::readFile(damaged);
            ASSERT_FALSE(contents.isEmpty());
            if (damage == QLatin1String("empty"))
                contents.clear();
            else if (damage == QLatin1String("truncated"))
                contents.truncate(contents.size() / 2 + 1);
            else
                for (char &byte : contents)
                    byte = char(random.bounded(256));
            TestSupport::writeFile(damaged, contents);

            const auto resumed = convert(work, {});
            ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
            if (file.warning && !(file.emptyIsValid && contents.isEmpty())) {
                EXPECT_TRUE(resumed.standardError.contains(file.warning)) << resumed.standardError.constData();
            }
            EXPECT_EQ(withoutStaleTagNotes(snapshotOf(path(work + "/proj")), reference).join('\n').toStdString(),
                      reference.join('\n').toStdString());
        }
    }
}

// fast-import dies while the converter goes on writing: the revision in
// which that is found fails with fast-import's own reason, nothing after it
// is exported, the run exits 1, and the next one finishes the conversion.
// The converter may run ahead of fast-import by what the pipe holds, so the
// stream after the death is made much larger than a pipe.
TEST_F(CrashResume, ImporterDyingMidRunFailsAndResumes)
{
    DumpBuilder d;
    d.revision(1, "alice", "layout");
    d.addDirectory("trunk");
    d.putFile("trunk/README", "readme\n");
    for (int n = 2; n < 42; ++n) {
        d.revision(n, "bob", "big " + QByteArray::number(n));
        QByteArray text;
        for (int line = 0; line < 1500; ++line)
            text += "revision " + QByteArray::number(n) + " line " + QByteArray::number(line)
                    + " of a file that keeps the stream well beyond a pipe's size\n";
        d.putFile("trunk/big.txt", text, n > 2);
    }
    ASSERT_TRUE(loadDump(path("bigrepo"), d.text()));
    TestSupport::writeFile(path("bigrules"), trunkRulesFor("big"));

    const QString realGit = TestSupport::shell(QStringLiteral("command -v git")).standardOutput.trimmed();
    const QString binDir = path(QStringLiteral("bin-dying"));
    QDir().mkpath(binDir);
    // The first lines, then a line fast-import does not know.
    TestSupport::writeFile(binDir + "/git",
                           "#!/bin/bash\n"
                           "if [ \"$1\" != fast-import ]; then exec " + realGit.toUtf8() + " \"$@\"; fi\n"
                           "{ head -n 2000; echo no-such-command; } | " + realGit.toUtf8() + " \"$@\"\n");
    QFile::setPermissions(binDir + "/git", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    auto convertBig = [&](const QString &work, const QString &pathPrefix) {
        QDir().mkpath(path(work));
        QString command = QStringLiteral("exec ");
        if (!pathPrefix.isEmpty())
            command = QStringLiteral("PATH='%1':\"$PATH\" exec ").arg(pathPrefix);
        command += QStringLiteral("'%1' --rules '%2' --identity-domain example.com '%3'")
                       .arg(TestSupport::tallowmereBinary(), path("bigrules"), path("bigrepo"));
        return TestSupport::shell(command, path(work));
    };

    const auto whole = convertBig(QStringLiteral("whole"), QString());
    ASSERT_EQ(whole.exitCode, 0) << whole.standardError.constData();

    const auto failed = convertBig(QStringLiteral("dying"), binDir);
    EXPECT_EQ(failed.exitCode, 1) << failed.standardError.right(2000).constData();
    EXPECT_TRUE(failed.standardError.contains(
        "git-fast-import for repository \"big\" exited with status 128 ; commits may have been lost"))
        << failed.standardError.right(2000).constData();
    EXPECT_TRUE(failed.standardError.contains("Errors that git-fast-import wrote to \"log-big\" :\nfatal: "))
        << failed.standardError.right(2000).constData();
    const QStringList fatalLines = TestSupport::fastImportFatalLines(path("dying"));
    EXPECT_EQ(fatalLines.size(), 1) << fatalLines.join('\n').toStdString();
    for (const QString &fatal : fatalLines) {
        const QByteArray fatalText = fatal.mid(fatal.indexOf(QStringLiteral("fatal:"))).toUtf8();
        EXPECT_TRUE(failed.standardError.contains(fatalText)) << fatalText.constData();
    }
    // The revision that found the importer dead is the last one begun, long
    // before the end, and it is not reported done.
    const QByteArray output = failed.standardOutput;
    const qsizetype lastRevision = output.lastIndexOf("Exporting revision ");
    ASSERT_GE(lastRevision, 0) << output.constData();
    EXPECT_FALSE(output.mid(lastRevision).contains(" done")) << output.right(2000).constData();
    EXPECT_FALSE(output.contains("Exporting revision 41 ")) << output.right(2000).constData();

    const auto resumed = convertBig(QStringLiteral("dying"), QString());
    ASSERT_EQ(resumed.exitCode, 0) << resumed.standardError.constData();
    EXPECT_TRUE(TestSupport::fastImportFatalLines(path("dying")).size() == 1);
    EXPECT_EQ(snapshotOf(path("dying/big")).join('\n').toStdString(),
              snapshotOf(path("whole/big")).join('\n').toStdString());
}

} // namespace
