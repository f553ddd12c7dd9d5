#include "RepositoryTestSupport.h"

#include "repository/ConversionLogLine.h"
#include "repository/MarksFile.h"
#include "repository/ResumeScanner.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <climits>

namespace {

class ResumeTest : public RepositoryTest
{
protected:
    void SetUp() override
    {
        RepositoryTest::SetUp();
        setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    }

    // Log lines "progress SVN rN branch trunk = :N" for N = 1..count.
    static QByteArray countingLog(int count)
    {
        QByteArray log;
        for (int i = 1; i <= count; ++i)
            log += "progress SVN r" + QByteArray::number(i) + " branch trunk = :"
                   + QByteArray::number(i) + "\n";
        return log;
    }

    // The revision to go on from, or -1 with the reason in failureMessage.
    int resume(int cutoff = INT_MAX, int *cutoffOut = nullptr)
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        const Result<int> next = repository.prepareResume(cutoff);
        if (cutoffOut)
            *cutoffOut = cutoff;
        failureMessage = next ? QString() : next.failure().message();
        return next ? next.value() : -1;
    }

    QString failureMessage;
};

TEST_F(ResumeTest, LastValidMarkOfTheMarksFile)
{
    const QByteArray object = " 0123456789012345678901234567890123456789\n";
    struct Case
    {
        QByteArray marks;
        int next;
        const char *message;
    };
    // Every kind of fault; the scanner's test below has the finer cases.
    const Case cases[] = {
        {":1" + object + ":2" + object + ":3" + object + ":18446744073709551613" + object, 4, nullptr},
        {":1" + object + ":1" + object, 1, "\"repo/marks-repo\" line 2 marks file has duplicates"},
        {":1" + object + ":2" + object + ":3" + object + "1" + object, 1,
         "\"repo/marks-repo\" line 4 marks file corrupt? mark  0"},
        {":1" + object + ":2" + object + ":3" + object + ":2" + object, 1,
         "\"repo/marks-repo\" line 4 marks file not sorted"},
    };
    const QString damagedWarning = QStringLiteral(
        "WARN: \"repo\" the damaged marks file was kept as \"repo/marks-repo.damaged\" and its "
        "commits will be converted again");
    for (const Case &testCase : cases) {
        write(QStringLiteral("log-repo"), countingLog(5));
        write(QStringLiteral("repo/marks-repo"), testCase.marks);
        MessageCapture capture;
        EXPECT_EQ(resume(), testCase.next) << testCase.marks.toStdString();
        EXPECT_TRUE(capture.containsText(QStringLiteral("marksfile  \"repo/marks-repo\"")));
        if (testCase.message) {
            EXPECT_TRUE(capture.containsText(QString::fromLatin1(testCase.message)))
                << capture.texts().join(QLatin1Char('|')).toStdString();
            // fast-import could not start with that file: it is kept aside.
            EXPECT_TRUE(capture.containsText(damagedWarning));
            EXPECT_EQ(read(QStringLiteral("repo/marks-repo.damaged")), testCase.marks);
            EXPECT_EQ(read(QStringLiteral("repo/marks-repo")), QByteArray());
        } else {
            EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("repo/marks-repo.damaged"))));
        }
        QFile::remove(path(QStringLiteral("repo/marks-repo.damaged")));
        for (const QString &message : capture.texts()) {
            if (message == damagedWarning)
                continue;
            if (!testCase.message || message != QLatin1String(testCase.message)) {
                EXPECT_FALSE(message.contains(QStringLiteral("marks file")))
                    << message.toStdString();
            }
        }
    }

    // Without a log a faulty marks file is set aside too; a good one stays.
    QFile::remove(path(QStringLiteral("log-repo")));
    write(QStringLiteral("repo/marks-repo"), ":1" + object + ":2 012");
    {
        MessageCapture capture;
        EXPECT_EQ(resume(), 1);
        EXPECT_TRUE(capture.containsText(damagedWarning));
        EXPECT_EQ(read(QStringLiteral("repo/marks-repo")), QByteArray());
    }
    write(QStringLiteral("repo/marks-repo"), ":1" + object);
    EXPECT_EQ(resume(), 1);
    EXPECT_EQ(read(QStringLiteral("repo/marks-repo")), ":1" + object);

    // No marks file at all: the first line with a mark rewinds.
    QFile::remove(path(QStringLiteral("repo/marks-repo")));
    write(QStringLiteral("log-repo"), countingLog(5));
    EXPECT_EQ(resume(), 1);
}

TEST(ResumeScannerTest, LastValidMarkAndFaultOfTheMarks)
{
    using Fault = ResumeScanner::MarksFault;
    const QByteArray object = " 0123456789012345678901234567890123456789\n";
    struct Case
    {
        QByteArray marks;
        quint64 lastValidMark;
        Fault fault;
        int faultLine;
    };
    const Case cases[] = {
        {":1" + object + ":3" + object, 1, Fault::None, 0},
        {":2" + object + ":1" + object, 0, Fault::None, 0},
        {":1" + object + ":0" + object, 0, Fault::Malformed, 2},
        {":1" + object + ":2" + object + ":3" + object + ":2" + object, 0, Fault::Unsorted, 4},
        // Cut short in the blob marks, or an object name that is no name.
        {":1" + object + ":2" + object + ":18446744073709551614 01234567", 0, Fault::Malformed, 3},
        {":1" + object + ":2 0123456789012345678901234567890123456789\x01\n", 0, Fault::Malformed, 2},
    };
    for (const Case &testCase : cases) {
        QBuffer marks;
        marks.setData(testCase.marks);
        ASSERT_TRUE(marks.open(QIODevice::ReadOnly));
        const ResumeScanner::MarksScan scan = ResumeScanner::scanMarks(marks);
        EXPECT_EQ(scan.lastValidMark, testCase.lastValidMark) << testCase.marks.toStdString();
        EXPECT_EQ(scan.fault, testCase.fault) << testCase.marks.toStdString();
        EXPECT_EQ(scan.faultLine, testCase.faultLine) << testCase.marks.toStdString();
        marks.seek(0);
        EXPECT_EQ(ResumeScanner::marksAreWellFormed(marks), testCase.fault != Fault::Malformed)
            << testCase.marks.toStdString();
    }
}

// Marks are found in any order of asking, far ahead or behind the line read
// last, in a file as fast-import writes it and in one out of order.
TEST(MarksFileTest, CommitsFoundInAnyOrder)
{
    const auto objectOf = [](quint64 mark) {
        return QByteArray::number(mark).rightJustified(40, '0');
    };
    QList<quint64> marks;
    for (quint64 mark = 1; mark <= 5000; mark += 2)
        marks.append(mark);
    for (const bool ordered : {true, false}) {
        QList<quint64> written = marks;
        if (!ordered)
            std::swap(written[10], written[2000]);
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        for (quint64 mark : std::as_const(written))
            file.write(":" + QByteArray::number(mark) + " " + objectOf(mark) + "\n");
        file.close();
        MarksFile reader;
        ASSERT_TRUE(reader.open(file.fileName()).ok());
        for (quint64 mark : {4999, 3, 2501, 2500, 1, 5001, 4097, 4099, 2049, 21, 4001}) {
            const QByteArray expected = mark % 2 && mark <= 5000 ? objectOf(mark) : QByteArray();
            EXPECT_EQ(reader.commitOf(mark), expected) << mark << " ordered " << ordered;
        }
    }
}

// The lines the converter writes are the lines a resumed run and the
// verifier read back.
TEST(ConversionLogLineTest, WrittenLinesReadBack)
{
    using Kind = ConversionLogLine::Kind;
    const ConversionLogLine merge = ConversionLogLine::parse(
            ConversionLogLine::branchLine(7, "a#b", 12, ConversionLogLine::mergeComment({3, 9}))
            + "\n");
    EXPECT_EQ(merge.kind(), Kind::Branch);
    EXPECT_EQ(merge.revision(), 7);
    EXPECT_EQ(merge.branch(), QStringLiteral("a#b"));
    EXPECT_EQ(merge.mark(), 12u);
    EXPECT_TRUE(merge.isCommit());
    EXPECT_EQ(merge.mergeParents(), (QList<quint64>{3, 9}));

    const ConversionLogLine reset = ConversionLogLine::parse(ConversionLogLine::branchLine(
            8, "b", 12, "from branch a#b at r7 => r7"));
    EXPECT_FALSE(reset.isCommit());
    EXPECT_EQ(reset.branch(), QStringLiteral("b"));
    const ConversionLogLine deletion =
            ConversionLogLine::parse(ConversionLogLine::branchLine(9, "b", 0, "delete"));
    EXPECT_TRUE(deletion.isDeletion());
    EXPECT_FALSE(deletion.isCommit());

    const ConversionLogLine done = ConversionLogLine::parse(ConversionLogLine::doneLine(9));
    EXPECT_EQ(done.kind(), Kind::Done);
    EXPECT_EQ(done.revision(), 9);
    EXPECT_EQ(ConversionLogLine::parse("progress Branch refs/heads/b reloaded").kind(),
              Kind::Other);
    EXPECT_EQ(ConversionLogLine::branchLineRevision(ConversionLogLine::branchLine(11, "b", 4)), 11);
}

TEST_F(ResumeTest, WholeLogAcceptedAndMarksContinue)
{
    write(QStringLiteral("log-repo"), countingLog(3));
    writeMarks(QStringLiteral("repo"), 3);
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        int cutoff = INT_MAX;
        EXPECT_EQ(repository.prepareResume(cutoff).value(), 4);
        EXPECT_EQ(cutoff, INT_MAX);
        QByteArray none;
        EXPECT_EQ(repository.markForRevision(QStringLiteral("trunk"), 2, none), 2);
        commitFiles(repository, QStringLiteral("trunk"), 4, {});
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("log-repo.old"))));
    EXPECT_TRUE(read(QStringLiteral("log-repo")).startsWith(countingLog(3)));
    EXPECT_TRUE(read(QStringLiteral("gitlog-repo")).contains("commit refs/heads/trunk\nmark :4\n"));
    // The head was announced to the new process.
    EXPECT_TRUE(read(QStringLiteral("gitlog-repo")).startsWith("reset refs/heads/trunk\nfrom :3\n\n"));
}

TEST_F(ResumeTest, CommitsMissingFromTheMarksFileRewindTheLog)
{
    const QByteArray log = countingLog(3) + "fast-import statistics\n";
    write(QStringLiteral("log-repo"), log);
    writeMarks(QStringLiteral("repo"), 2);
    MessageCapture capture;
    int cutoff = 0;
    EXPECT_EQ(resume(INT_MAX, &cutoff), 3);
    EXPECT_EQ(cutoff, 3);
    EXPECT_TRUE(capture.containsText(QStringLiteral(
        "WARN: \"repo\" unknown commit mark found: rewinding -- did you hit Ctrl-C?")));
    EXPECT_TRUE(capture.containsText(QStringLiteral("\"repo\" truncating history to revision 3")));
    EXPECT_EQ(read(QStringLiteral("log-repo.old")), log);
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(2));
}

// A log cut short inside a line ("= :1" of ":15") must not name the wrong commit.
TEST_F(ResumeTest, IncompleteLastLineIsRemoved)
{
    write(QStringLiteral("log-repo"), countingLog(2) + "progress SVN r3 branch trunk = :");
    writeMarks(QStringLiteral("repo"), 3);
    MessageCapture capture;
    EXPECT_EQ(resume(), 3);
    EXPECT_TRUE(capture.containsText(
        QStringLiteral("WARN: \"repo\" the log ends in an incomplete line: removed")));
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(2));
}

TEST_F(ResumeTest, ResumeRevisionCutsTheLog)
{
    write(QStringLiteral("log-repo"), countingLog(3));
    writeMarks(QStringLiteral("repo"), 3);
    write(QStringLiteral("log-repo.old"), "stale");
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        int cutoff = 2;
        EXPECT_EQ(repository.prepareResume(cutoff).value(), 2);
        EXPECT_EQ(cutoff, 2);
        QByteArray none;
        EXPECT_EQ(repository.markForRevision(QStringLiteral("trunk"), 5, none), 1);
    }
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(1));
    EXPECT_EQ(read(QStringLiteral("log-repo.old")), countingLog(3));

    // recoverLogFile puts the saved copy back; without one it changes nothing.
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        EXPECT_TRUE(repository.recoverLogFile().ok());
    }
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(3));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("log-repo.old"))));
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        EXPECT_TRUE(repository.recoverLogFile().ok());
    }
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(3));
}

TEST_F(ResumeTest, LogEndingJustBeforeTheCutoffDeletesTheSavedLog)
{
    write(QStringLiteral("log-repo"), countingLog(3));
    writeMarks(QStringLiteral("repo"), 3);
    write(QStringLiteral("log-repo.old"), "stale");
    EXPECT_EQ(resume(4), 4);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("log-repo.old"))));
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(3));

    // Missing log: start at 1.
    QFile::remove(path(QStringLiteral("log-repo")));
    int cutoff = 0;
    EXPECT_EQ(resume(77, &cutoff), 1);
    EXPECT_EQ(cutoff, 77);
}

TEST_F(ResumeTest, DeletionsNoiseAndDisorder)
{
    write(QStringLiteral("log-repo"),
          "\n"
          "# only a comment\n"
          "progress Branch refs/heads/b reloaded\n"
          "progress Creating annotated tag t from ref refs/tags/t\n"
          "some output of git fast-import\n"
          "progress SVN r5 branch b = :1\n"
          "  progress SVN r6 branch b = :2 # from branch trunk at r6  \n"
          "progress SVN r7 branch b = :0 # delete\n"
          "progress SVN r4 branch c = :3\n");
    writeMarks(QStringLiteral("repo"), 3);
    MessageCapture capture;
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    int cutoff = INT_MAX;
    EXPECT_EQ(repository.prepareResume(cutoff).value(), 5);
    QStringList warnings;
    for (const QString &message : capture.texts())
        if (message.startsWith(QStringLiteral("WARN")))
            warnings.append(message);
    EXPECT_EQ(warnings, QStringList(QStringLiteral(
                            "WARN: \"repo\" revision numbers are not monotonic:  got \"7\" and then \"4\"")));

    QByteArray none;
    EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), 6, none), 2);
    EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), 7, none), 0);
    EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), 4, none), 0);
    // The deleted branch starts afresh at its next commit.
    commitFiles(repository, QStringLiteral("b"), 8, {});
    EXPECT_TRUE(capture.containsText(QStringLiteral(
        "WARN: Branch \"b\" in repository \"repo\" doesn't exist at revision 8 -- did you resume "
        "from the wrong revision?")));
    EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), 8, none), 4);
}

TEST_F(ResumeTest, DumpFileServesAsTheLog)
{
    setOptions({&RepositoryOptions::createDump});
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        commitFiles(repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}});
        commitFiles(repository, QStringLiteral("master"), 2, {{QStringLiteral("a"), "b"}});
    }
    const QByteArray dump = read(QStringLiteral("repo.fi"));
    ASSERT_TRUE(dump.contains("progress SVN r2 branch master = :2"));
    ASSERT_TRUE(dump.endsWith("checkpoint\n"));
    // A run that ended cleanly left every commit whole: nothing is cut.
    int cutoff = 0;
    EXPECT_EQ(resume(INT_MAX, &cutoff), 3);
    EXPECT_EQ(cutoff, INT_MAX);
    EXPECT_EQ(read(QStringLiteral("repo.fi")), dump);

    // A run that died after its last checkpoint: the dump goes back to that
    // checkpoint, and so does the conversion, so no commit is written twice.
    const QByteArray tail = "blob\nmark :18446744073709551614\ndata 1\nc\n"
                            "commit refs/heads/master\nmark :3\n"
                            "committer A <a@b> 1 +0000\ndata 2\nm\n\n"
                            "M 100644 :18446744073709551614 a\n\n"
                            "progress SVN r3 branch master = :3\n\ncommit refs/heads/mas";
    write(QStringLiteral("repo.fi"), dump + tail);
    EXPECT_EQ(resume(INT_MAX, &cutoff), 3);
    EXPECT_EQ(cutoff, 3);
    EXPECT_EQ(read(QStringLiteral("repo.fi.old")), dump + tail);
    EXPECT_EQ(read(QStringLiteral("repo.fi")), dump);
}

// A branch name may hold "#"; only what follows the mark is a comment.
TEST_F(ResumeTest, BranchNamesWithHashSurviveTheLog)
{
    write(QStringLiteral("log-repo"),
          "progress SVN r1 branch trunk = :1\n"
          "progress SVN r2 branch fix#1 = :1 # from branch trunk at r2 => r1\n"
          "progress SVN r3 branch fix#1 = :2\n"
          "progress SVN r4 branch a#b#c = :2 # from branch fix#1 at r4 => r3\n");
    writeMarks(QStringLiteral("repo"), 2);
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    int cutoff = INT_MAX;
    EXPECT_EQ(repository.prepareResume(cutoff).value(), 5);
    QByteArray none;
    EXPECT_EQ(repository.markForRevision(QStringLiteral("fix#1"), 3, none), 2);
    EXPECT_EQ(repository.markForRevision(QStringLiteral("a#b#c"), 4, none), 2);
    EXPECT_FALSE(repository.hasBranch(QStringLiteral("fix")));
}

// Cutting the log without its saved copy would lose it: when the copy
// cannot be made, the log stays as it was and the run cannot go on.
TEST_F(ResumeTest, LogIsNotCutWhenItsCopyFails)
{
    write(QStringLiteral("log-repo"), countingLog(3));
    writeMarks(QStringLiteral("repo"), 3);
    QDir().mkpath(path(QStringLiteral("log-repo.old/in-the-way")));
    MessageCapture capture;
    EXPECT_EQ(resume(2), -1);
    EXPECT_EQ(read(QStringLiteral("log-repo")), countingLog(3));
    EXPECT_EQ(failureMessage, QStringLiteral(
        "\"repo\" cannot save the log \"log-repo\" as \"log-repo.old\" before cutting it to "
        "revision 2 : the log is left as it was"));
    EXPECT_TRUE(capture.texts().filter(QStringLiteral("cannot save")).isEmpty());
}

// A run that died between a commit's progress line and its note leaves the
// commit in the marks file without the note; resuming redoes that revision.
TEST_F(ResumeTest, CommitWithoutItsNoteIsDoneAgain)
{
    setOptions({&RepositoryOptions::addMetadataNotes});
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        commitFiles(repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "1"}});
        commitFiles(repository, QStringLiteral("master"), 2, {{QStringLiteral("a"), "2"}});
    }
    const QByteArray log = read(QStringLiteral("log-repo"));
    const QByteArray marks = read(QStringLiteral("repo/marks-repo"));
    ASSERT_TRUE(marks.contains(":18446744073709551615 "));

    // Intact: nothing is redone.
    {
        MessageCapture capture;
        int cutoff = 0;
        EXPECT_EQ(resume(INT_MAX, &cutoff), 3);
        EXPECT_EQ(cutoff, INT_MAX);
        EXPECT_EQ(read(QStringLiteral("log-repo")), log);
    }

    // The notes mark still names the notes commit of revision 1.
    const QString olderNotes = git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/notes/commits^"));
    const QString newestNotes = git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/notes/commits"));
    QByteArray damaged = marks;
    damaged.replace(newestNotes.toLatin1(), olderNotes.toLatin1());
    write(QStringLiteral("repo/marks-repo"), damaged);
    {
        MessageCapture capture;
        int cutoff = 0;
        EXPECT_EQ(resume(INT_MAX, &cutoff), 2);
        EXPECT_EQ(cutoff, 2);
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "WARN: \"repo\" the note of the commit of revision 2 is missing: rewinding; 1 "
            "revisions will be converted again")))
            << capture.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(read(QStringLiteral("log-repo.old")), log);
        EXPECT_EQ(read(QStringLiteral("log-repo")), log.left(log.indexOf("progress SVN r2")));
    }

    // Without notes the same files are taken as they are.
    write(QStringLiteral("log-repo"), log);
    setOptions({});
    EXPECT_EQ(resume(), 3);
}

} // namespace

// A revision of the log without its "done" line lost commands after the
// last it names: it is converted again. A log without any such line (from
// an older version) is read as before.
TEST_F(ResumeTest, UnfinishedRevisionIsConvertedAgain)
{
    const QByteArray finished = "progress SVN r1 branch trunk = :1\n\nprogress SVN r1 done\n\n"
                                "progress SVN r2 branch b = :1 # from branch trunk at r1 => r1\n"
                                "progress SVN r2 branch b = :2\n";
    write(QStringLiteral("log-repo"), finished + "progress SVN r2 done\n\n");
    writeMarks(QStringLiteral("repo"), 2);
    EXPECT_EQ(resume(), 3);

    write(QStringLiteral("log-repo"), finished);
    MessageCapture capture;
    int cutoff = 0;
    EXPECT_EQ(resume(INT_MAX, &cutoff), 2);
    EXPECT_EQ(cutoff, 2);
    EXPECT_TRUE(capture.containsText(
        QStringLiteral("WARN: \"repo\" revision 2 was not finished: converting it again")))
        << capture.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(read(QStringLiteral("log-repo")), finished.left(finished.indexOf("progress SVN r2")));

    write(QStringLiteral("log-repo"), countingLog(3));
    writeMarks(QStringLiteral("repo"), 3);
    EXPECT_EQ(resume(), 4);
}
