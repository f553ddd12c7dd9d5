#include "OutputCapture.h"
#include "TestSupport.h"

#include "svn/IdentityMapFile.h"
#include "svn/RevisionList.h"

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::captureStderr;

namespace {

RevisionSet revisions(std::initializer_list<int> numbers)
{
    RevisionSet result;
    for (int number : numbers)
        result.insert(number);
    return result;
}

struct RevisionListResult
{
    RevisionSet revisions;
    QString failure; // empty when the file was read
    QByteArray standardError;
    int latestRevisionCalls = 0;
};

RevisionListResult readList(const QTemporaryDir &directory, const QByteArray &contents, int latest = 22)
{
    const QString path = directory.filePath("revisions.txt");
    TestSupport::writeFile(path, contents);
    RevisionListResult result;
    const std::function<int()> latestRevision = [&result, latest] {
        ++result.latestRevisionCalls;
        return latest;
    };
    result.standardError = captureStderr([&] {
        const Result<RevisionSet> read = readRevisionList(path, latestRevision);
        if (read)
            result.revisions = read.value();
        else
            result.failure = read.failure().message();
    });
    return result;
}

struct IdentityMapResult
{
    IdentityMap identities;
    QList<RejectedIdentityLine> rejectedLines;
    QByteArray standardError;
};

IdentityMapResult readMap(const QTemporaryDir &directory, const QByteArray &contents)
{
    const QString path = directory.filePath("identities.txt");
    TestSupport::writeFile(path, contents);
    IdentityMapResult result;
    result.standardError = captureStderr([&] {
        const Result<IdentityMapContents> read = readIdentityMap(path);
        ASSERT_TRUE(read.ok());
        result.identities = read.value().identities;
        result.rejectedLines = read.value().rejectedLines;
    });
    return result;
}

// Makes a FIFO at path whose writer opens it at once but writes contents only
// a second later, as a slow generator behind <(...) does. Returns the writer.
pid_t fifoWithSlowWriter(const QString &path, const QByteArray &contents)
{
    if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
        return -1;
    const pid_t writer = fork();
    if (writer == 0) {
        QFile pipe(path);
        pipe.open(QIODevice::WriteOnly);
        sleep(1);
        pipe.write(contents);
        pipe.close();
        _exit(0);
    }
    return writer;
}

} // namespace

TEST(IdentityMap, ReadsBothLineFormsAndSkipsUnusableLines)
{
    QTemporaryDir directory;
    const IdentityMapResult result = readMap(directory,
                                             "# people of the project\n"
                                             "jdoe = John Doe <jdoe@example.com>\n"
                                             "asmith Alice Smith <alice@example.com>   \n"
                                             "\n"
                                             "     \n"
                                             "loner\n"
                                             "tab\tonly\n"
                                             "   bob = Bob B <bob@example.com> # the builder\n"
                                             "wide  = Wide Spacing <wide@example.com>\n"
                                             "twice = First <first@example.com>\n"
                                             "twice = Second <second@example.com>\n"
                                             "m\xfcller = M\xfcller <m@example.com>\r\n"
                                             "last Without Newline <last@example.com>");
    EXPECT_TRUE(result.standardError.isEmpty()) << result.standardError.constData();

    IdentityMap expected;
    expected.insert("jdoe", "John Doe <jdoe@example.com>");
    expected.insert("asmith", "Alice Smith <alice@example.com>");
    expected.insert("bob", "Bob B <bob@example.com>");
    // Only the text before the first " = " is the name, and it is not trimmed.
    expected.insert("wide ", "Wide Spacing <wide@example.com>");
    expected.insert("twice", "Second <second@example.com>");
    expected.insert("m\xfcller", "M\xfcller <m@example.com>");
    expected.insert("last", "Without Newline <last@example.com>");
    EXPECT_EQ(result.identities, expected);
}

// fast-import dies on an identity it cannot parse, and with it every ref of
// the repository: such lines are all given back, none enters the map.
TEST(IdentityMap, IdentitiesGitWouldRefuseAreAllRejected)
{
    QTemporaryDir directory;
    const char contents[] = "root = Root Person\n"                 // no address
                            "ok = Fine Person <fine@example.com>\n"
                            "bare = <bare@example.com>\n"          // no name
                            "glued Glued<glued@example.com>\n"     // no blank before <
                            "open Open <open@example.com\n"        // no >
                            "after After <after@example.com> x\n"  // text after >
                            "two Two <a@example.com> <b@example.com>\n"
                            "angle An>gle <angle@example.com>\n"
                            "nested Nested <ne<sted@example.com>\n"
                            "nul Nul <nul\0@example.com>\n"
                            "cr Carriage\rReturn <cr@example.com>\r\n"
                            "empty =\n"
                            "short = A <>\n";
    const IdentityMapResult result = readMap(directory, QByteArray(contents, sizeof contents - 1));
    EXPECT_TRUE(result.standardError.isEmpty()) << result.standardError.constData();
    IdentityMap expected;
    expected.insert("ok", "Fine Person <fine@example.com>");
    // An empty address is still an identity git takes.
    expected.insert("short", "A <>");
    EXPECT_EQ(result.identities, expected);

    QList<int> lineNumbers;
    for (const RejectedIdentityLine &line : result.rejectedLines)
        lineNumbers.append(line.lineNumber);
    EXPECT_EQ(lineNumbers, QList<int>({1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_EQ(result.rejectedLines.size(), 11);
    EXPECT_EQ(result.rejectedLines.first().text, QByteArray("root = Root Person"));
    EXPECT_EQ(result.rejectedLines.at(9).text, QByteArray("cr Carriage\rReturn <cr@example.com>"));
}

TEST(IdentityMap, MissingFileIsAFailureAndEmptyNameIsSilent)
{
    QTemporaryDir directory;
    const QString missing = directory.filePath("absent.txt");
    const Result<IdentityMapContents> absent = readIdentityMap(missing);
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.failure().message(), "Could not open file " + missing + ": No such file or directory");

    const QByteArray silent = captureStderr([&] {
        const Result<IdentityMapContents> none = readIdentityMap(QString());
        ASSERT_TRUE(none.ok());
        EXPECT_TRUE(none.value().identities.isEmpty());
    });
    EXPECT_TRUE(silent.isEmpty());
}

TEST(RevisionList, ReadsNumbersAndRangesAnywhereInTheLine)
{
    QTemporaryDir directory;
    RevisionListResult result =
        readList(directory, "5\n7-9\n10 - 12\nr15\n  30  \n1,2,3\nrev 40 - 41 done\n9-3\n33\r\n", 100);
    EXPECT_EQ(result.revisions, revisions({1, 5, 7, 8, 9, 10, 11, 12, 15, 30, 33, 40, 41}));
    EXPECT_TRUE(result.standardError.isEmpty()) << result.standardError.constData();

    result = readList(directory, "20-HEAD\n", 22);
    EXPECT_EQ(result.revisions, revisions({20, 21, 22}));
    EXPECT_EQ(result.latestRevisionCalls, 1);

    // Only the upper-case word is a range end.
    result = readList(directory, "20-head\n", 22);
    EXPECT_EQ(result.revisions, revisions({20}));
}

TEST(RevisionList, ReportsUnusableLinesOnStandardError)
{
    QTemporaryDir directory;
    const RevisionListResult result = readList(directory,
                                               "4\n"
                                               "\n"
                                               "abc\n"
                                               "99999999999\n"
                                               "99999999999-5\n"
                                               "5-99999999999\n"
                                               "6\n");
    EXPECT_EQ(result.revisions, revisions({4, 6}));
    EXPECT_EQ(result.standardError.toStdString(),
              "Unable to convert  to int, skipping revision.\n"
              "Unable to convert abc to int, skipping revision.\n"
              "Unable to convert 99999999999 to int, skipping revision.\n"
              "Unable to convert 99999999999 (99999999999-5) to int, skipping revisions.\n"
              "Unable to convert 99999999999 (5-99999999999) to int, skipping revisions.\n");
}

TEST(RevisionList, HugeRangesStopAtTheNewestRevision)
{
    QTemporaryDir directory;
    RevisionListResult result = readList(directory, "1-2147483647\n", 10);
    EXPECT_EQ(result.revisions, revisions({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(result.standardError.isEmpty());

    result = readList(directory, "3-2000000000\n0-5\n", 4);
    EXPECT_EQ(result.revisions, revisions({0, 1, 2, 3, 4}));
    EXPECT_EQ(result.latestRevisionCalls, 1);

    // Ranges that reach the largest revision number must still end.
    result = readList(directory, "2147483645-2147483647\n2147483640-HEAD\n2147483647-HEAD\n", INT_MAX);
    EXPECT_EQ(result.revisions, revisions({2147483640, 2147483641, 2147483642, 2147483643, 2147483644,
                                           2147483645, 2147483646, 2147483647}));

}

TEST(RevisionList, PlainNumbersNeverAskForTheNewestRevision)
{
    QTemporaryDir directory;
    const RevisionListResult result = readList(directory, "1\n2147483647\n7\n", 3);
    EXPECT_EQ(result.revisions, revisions({1, 7, 2147483647}));
    EXPECT_EQ(result.latestRevisionCalls, 0);
}

// A file that cannot be read, or that names no revision there is, would
// otherwise convert every revision.
TEST(RevisionList, MissingFileOrNoRevisionIsAFailureAndEmptyNameIsSilent)
{
    QTemporaryDir directory;
    const QString missing = directory.filePath("absent.txt");
    int calls = 0;
    const std::function<int()> latest = [&calls] { return ++calls; };
    const Result<RevisionSet> absent = readRevisionList(missing, latest);
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.failure().message(), "Could not open file " + missing + ": No such file or directory");

    const QByteArray silent = captureStderr([&] {
        const Result<RevisionSet> none = readRevisionList(QString(), latest);
        ASSERT_TRUE(none.ok());
        EXPECT_TRUE(none.value().isEmpty());
    });
    EXPECT_TRUE(silent.isEmpty());
    EXPECT_EQ(calls, 0);

    const QString noRevision = "The revisions file " + directory.filePath("revisions.txt")
                               + " names no revision to convert";
    EXPECT_EQ(readList(directory, "").failure, noRevision);
    EXPECT_EQ(readList(directory, "# none yet\n").failure, noRevision);
    EXPECT_EQ(readList(directory, "100-200\n", 50).failure, noRevision);
}

// As with --identity-map <(...) and --revisions-file <(...): the writer may
// not have written yet when the reader starts.
TEST(InputFileReaders, FilesFromPipesWhoseWriterIsStillBusy)
{
    QTemporaryDir directory;
    const QString identityPipe = directory.filePath("identities.fifo");
    const pid_t identityWriter = fifoWithSlowWriter(identityPipe, "jdoe = John Doe <jdoe@example.com>\n");
    ASSERT_GT(identityWriter, 0);
    const Result<IdentityMapContents> identities = readIdentityMap(identityPipe);
    waitpid(identityWriter, nullptr, 0);
    IdentityMap expected;
    expected.insert("jdoe", "John Doe <jdoe@example.com>");
    ASSERT_TRUE(identities.ok());
    EXPECT_EQ(identities.value().identities, expected);

    const QString revisionPipe = directory.filePath("revisions.fifo");
    const pid_t revisionWriter = fifoWithSlowWriter(revisionPipe, "3\n5-6\n");
    ASSERT_GT(revisionWriter, 0);
    const Result<RevisionSet> revisionList = readRevisionList(revisionPipe, [] { return 10; });
    waitpid(revisionWriter, nullptr, 0);
    ASSERT_TRUE(revisionList.ok());
    EXPECT_EQ(revisionList.value(), revisions({3, 5, 6}));
}

TEST(InputFileReaders, OverlongLinesAreSkippedWithAMessage)
{
    QTemporaryDir directory;
    const QByteArray overlong(3 << 20, '7');
    const IdentityMapResult map = readMap(directory, "a = A <a@x>\n" + overlong + " = L <l@x>\nb = B <b@x>\n");
    EXPECT_EQ(map.identities.keys().size(), 2);
    EXPECT_EQ(map.identities.value("b"), "B <b@x>");
    EXPECT_TRUE(map.rejectedLines.isEmpty());
    EXPECT_EQ(map.standardError.toStdString(), "Line 2 of " + directory.filePath("identities.txt").toStdString()
                                                   + " is longer than 1048576 bytes, skipping it.\n");

    const RevisionListResult list = readList(directory, "3\n" + overlong + "\n5\n" + overlong);
    EXPECT_EQ(list.revisions, revisions({3, 5}));
    const QByteArray message = directory.filePath("revisions.txt").toLocal8Bit();
    EXPECT_EQ(list.standardError.toStdString(),
              "Line 2 of " + message.toStdString() + " is longer than 1048576 bytes, skipping it.\n"
              "Line 4 of " + message.toStdString() + " is longer than 1048576 bytes, skipping it.\n");
}
