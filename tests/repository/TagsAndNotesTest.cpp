#include "RepositoryTestSupport.h"

#include "repository/Metadata.h"

#include <QDir>
#include <QFileInfo>

#include <climits>

namespace {

class TagsAndNotesTest : public RepositoryTest
{
};

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += char((value >> shift) & 0xff);
    return bytes;
}

QByteArray bigEndian64(quint64 value)
{
    return bigEndian32(quint32(value >> 32)) + bigEndian32(quint32(value));
}

QByteArray streamedString(const QString &text)
{
    QByteArray bytes = bigEndian32(quint32(text.size() * 2));
    for (QChar c : text)
        bytes += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xff));
    return bytes;
}

QByteArray streamedBytes(const QByteArray &bytes)
{
    return bigEndian32(quint32(bytes.size())) + bytes;
}

TEST_F(TagsAndNotesTest, MetadataText)
{
    EXPECT_EQ(formatMetadata("/trunk/", 7), QByteArray("svn path=/trunk/; revision=7\n"));
    EXPECT_EQ(formatMetadata("/trunk/", 7, QByteArray()), QByteArray("svn path=/trunk/; revision=7\n"));
    EXPECT_EQ(formatMetadata("/tags/rel-1/", 50, "rel-1"),
              QByteArray("svn path=/tags/rel-1/; revision=50; tag=rel-1\n"));
    EXPECT_EQ(formatMetadata("/x/", -3), QByteArray("svn path=/x/; revision=-3\n"));
}

TEST_F(TagsAndNotesTest, TagCommandsAndTheTagsFileLayout)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    QDir().mkpath(path(QStringLiteral("repo")));
    QByteArray printed;
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        StdoutCapture output;
        // No tags: nothing printed, no file.
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/rel-1"),
                                      QStringLiteral("/tags/rel-1/"), 42, "Tagger <t@x>",
                                      3000000000u, "fix");
        printed = output.finish();
    }
    EXPECT_EQ(printed, QByteArray("\nCreating annotated tag rel-1 (refs/tags/rel-1) for repo\n"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("repo/annotatedTags-repo"))));

    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        StdoutCapture output;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/rel-1"),
                                      QStringLiteral("/tags/rel-1/"), 42, "Tagger <t@x>",
                                      3000000000u, "fix");
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        printed = output.finish();
    }
    EXPECT_EQ(printed, QByteArray("\nCreating annotated tag rel-1 (refs/tags/rel-1) for repo\n"
                                  "Finalising annotated tags for repo... rel-1\n"));
    const QByteArray tagCommand = "progress Creating annotated tag rel-1 from ref refs/tags/rel-1\n"
                                  "tag rel-1\nfrom refs/tags/rel-1\n"
                                  "tagger Tagger <t@x> 3000000000 +0000\n"
                                  "data 4\nfix\n\n";
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")), tagCommand + "checkpoint\n");
    const QByteArray expectedFile = bigEndian32(1) + streamedString(QStringLiteral("rel-1"))
                                    + streamedString(QStringLiteral("refs/tags/rel-1"))
                                    + streamedBytes("/tags/rel-1/") + streamedBytes("Tagger <t@x>")
                                    + streamedBytes("fix") + bigEndian64(3000000000ull)
                                    + bigEndian64(42);
    EXPECT_EQ(read(QStringLiteral("repo/annotatedTags-repo")), expectedFile);

    // A later run reads every field back; the table is written again.
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        repository.loadAnnotatedTags();
        StdoutCapture output;
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        printed = output.finish();
    }
    EXPECT_EQ(printed, QByteArray("Finalising annotated tags for repo... rel-1\n"));
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")), tagCommand + "checkpoint\n");

    // A negative revision keeps its sign through the 64-bit field.
    write(QStringLiteral("repo/annotatedTags-repo"),
          bigEndian32(1) + streamedString(QStringLiteral("neg")) + streamedString(QStringLiteral("neg"))
              + streamedBytes("/n/") + streamedBytes("A <a@b>") + streamedBytes("")
              + bigEndian64(5) + bigEndian64(quint64(-2)));
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules,
                &RepositoryOptions::addMetadata});
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        repository.loadAnnotatedTags();
        StdoutCapture output;
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
    }
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")),
              QByteArray("progress Creating annotated tag neg from ref refs/heads/neg\n"
                         "tag neg\nfrom refs/heads/neg\ntagger A <a@b> 5 +0000\n"
                         "data 37\n\n\nsvn path=/n/; revision=-2; tag=neg\n\ncheckpoint\n"));
}

TEST_F(TagsAndNotesTest, DamagedTagsFilesLoadAsEmptyTables)
{
    setOptions({&RepositoryOptions::dryRun});
    const QByteArray good = bigEndian32(1) + streamedString(QStringLiteral("t"))
                            + streamedString(QStringLiteral("t")) + streamedBytes("/t/")
                            + streamedBytes("A <a@b>") + streamedBytes("m") + bigEndian64(1)
                            + bigEndian64(2);
    const QList<QByteArray> damaged = {bigEndian32(0xffffffffu) + good.mid(4), good.left(good.size() - 3),
                                       bigEndian32(2) + good.mid(4), QByteArray("xy"), good + "z"};
    for (const QByteArray &contents : damaged) {
        write(QStringLiteral("repo/annotatedTags-repo"), contents);
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        StdoutCapture output;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/before"), QStringLiteral("/b/"), 1,
                                      "A <a@b>", 1, "m");
        repository.loadAnnotatedTags();
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        EXPECT_EQ(output.finish(),
                  QByteArray("\nCreating annotated tag before (refs/tags/before) for repo\n"));
        // An empty table leaves no file: a damaged one would be read again.
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("repo/annotatedTags-repo"))));
    }
    // A good file replaces what was recorded before loading.
    write(QStringLiteral("repo/annotatedTags-repo"), good);
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    StdoutCapture output;
    repository.recordAnnotatedTag(QStringLiteral("refs/tags/before"), QStringLiteral("/b/"), 1,
                                  "A <a@b>", 1, "m");
    repository.loadAnnotatedTags();
    EXPECT_TRUE(repository.writeAnnotatedTags().ok());
    EXPECT_TRUE(output.finish().endsWith("Finalising annotated tags for repo... t\n"));
}

TEST_F(TagsAndNotesTest, RecordingTheSameTagNameAgainReplacesIt)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    QByteArray printed;
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        StdoutCapture output;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/rel-2"), QStringLiteral("/tags/rel-2/"),
                                      3, "A <a@b>", 10, "first");
        repository.recordAnnotatedTag(QStringLiteral("rel-2"), QStringLiteral("/branches/rel-2/"), 4,
                                      "B <b@c>", 11, "");
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        printed = output.finish();
    }
    EXPECT_EQ(printed, QByteArray("\nCreating annotated tag rel-2 (refs/tags/rel-2) for repo\n"
                                  "\nRe-creating annotated tag rel-2 for repo\n"
                                  "Finalising annotated tags for repo... rel-2\n"));
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")),
              QByteArray("progress Creating annotated tag rel-2 from ref refs/heads/rel-2\n"
                         "tag rel-2\nfrom refs/heads/rel-2\ntagger B <b@c> 11 +0000\n"
                         "data 1\n\n\ncheckpoint\n"));
}

TEST_F(TagsAndNotesTest, NotesOnCommitsAndTagMetadataAppendedOnce)
{
    setOptions({&RepositoryOptions::addMetadataNotes, &RepositoryOptions::debugRules});
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        repository.loadAnnotatedTags();
        repository.loadBranchNotes();
        commitFiles(repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}}, {}, "one");
        ASSERT_TRUE(repository.makeBranch(QStringLiteral("refs/tags/rel-1"), 2, QStringLiteral("master"), 1).ok());
        EXPECT_TRUE(repository.flushPendingUpdates().ok());
        EXPECT_EQ(repository.noteForBranch(QStringLiteral("refs/tags/rel-1")),
                  QByteArray("svn path=/trunk/; revision=1\n"));
        StdoutCapture quiet;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/rel-1"), QStringLiteral("/tags/rel-1/"),
                                      2, "Tagger <t@x>", 2000, "tagging");
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        EXPECT_TRUE(repository.storeBranchNotes().ok());
    }
    const QByteArray mirror = read(QStringLiteral("gitlog-repo"));
    const QByteArray firstNote = "commit refs/notes/commits\nmark :18446744073709551615\n"
                                 "committer Test User <test@example.com> 1000000001 +0000\n"
                                 "data 46\nAdding Git note for current refs/heads/master\n\n"
                                 "N inline refs/heads/master\n"
                                 "data 29\nsvn path=/trunk/; revision=1\n\n";
    EXPECT_TRUE(mirror.contains("\nprogress SVN r1 branch master = :1\n\n" + firstNote)) << mirror.toStdString();
    const QByteArray appended = "commit refs/notes/commits\nmark :18446744073709551615\n"
                                "committer Tagger <t@x> 2000 +0000\n"
                                "data 47\nAppending Git note for current refs/tags/rel-1\n\n"
                                "N inline refs/tags/rel-1\n"
                                "data 74\nsvn path=/trunk/; revision=1\n"
                                "svn path=/tags/rel-1/; revision=2; tag=rel-1\n\n";
    EXPECT_TRUE(mirror.contains(appended)) << mirror.toStdString();

    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("notes show master")),
              QStringLiteral("svn path=/trunk/; revision=1\nsvn path=/tags/rel-1/; revision=2; tag=rel-1"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("cat-file -t refs/tags/rel-1")), QStringLiteral("tag"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/tags/rel-1^{commit}")),
              git(QStringLiteral("repo"), QStringLiteral("rev-parse master")));

    const QByteArray notesFile = read(QStringLiteral("repo/branchNotes-repo"));
    const QByteArray masterEntry = streamedString(QStringLiteral("master")) + streamedBytes("svn path=/trunk/; revision=1\n");
    const QByteArray tagEntry = streamedString(QStringLiteral("refs/tags/rel-1"))
                                + streamedBytes("svn path=/trunk/; revision=1\n"
                                                "svn path=/tags/rel-1/; revision=2; tag=rel-1\n");
    EXPECT_TRUE(notesFile == bigEndian32(2) + masterEntry + tagEntry
                || notesFile == bigEndian32(2) + tagEntry + masterEntry)
        << notesFile.toHex().toStdString();

    // The next run restores the notes and finds the tag line already there.
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        int cutoff = INT_MAX;
        EXPECT_EQ(repository.prepareResume(cutoff).value(), 3);
        StdoutCapture quiet;
        EXPECT_TRUE(repository.writeAnnotatedTags().ok());
        EXPECT_TRUE(repository.storeBranchNotes().ok());
    }
    EXPECT_FALSE(read(QStringLiteral("gitlog-repo")).contains("Appending Git note"));
    EXPECT_FALSE(read(QStringLiteral("gitlog-repo")).contains("Adding Git note"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("notes show master")),
              QStringLiteral("svn path=/trunk/; revision=1\nsvn path=/tags/rel-1/; revision=2; tag=rel-1"));
    // Rewritten with the same entries (the order of a hash table may differ).
    const QByteArray rewritten = read(QStringLiteral("repo/branchNotes-repo"));
    EXPECT_TRUE(rewritten == bigEndian32(2) + masterEntry + tagEntry
                || rewritten == bigEndian32(2) + tagEntry + masterEntry);
}

TEST_F(TagsAndNotesTest, WriteNoteAppendingRules)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    QDir().mkpath(path(QStringLiteral("repo")));
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    std::unique_ptr<Repository::Transaction> transaction(
        repository.beginTransaction(QStringLiteral("master"), QStringLiteral("/t/"), 1).takeValue());
    transaction->setCommitter("A <a@b>");
    transaction->setCommitTime(9);

    EXPECT_TRUE(transaction->writeNote("first line", true));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray("first line\n"));
    EXPECT_TRUE(transaction->writeNote("second", true));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray("first line\nsecond\n"));
    EXPECT_FALSE(transaction->writeNote("second\n", true));
    // Only in the middle of a line: appended.
    EXPECT_TRUE(transaction->writeNote("line", true));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")),
              QByteArray("first line\nsecond\nline\n"));
    // Not appending replaces the stored note.
    EXPECT_TRUE(transaction->writeNote("fresh", false));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray("fresh\n"));
    // A given commit is annotated as it is and does not touch the branch note.
    EXPECT_TRUE(transaction->writeNote("other", true, "0123abcd"));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray("fresh\n"));
    transaction.reset();

    // A branch without record: a plain note, not stored.
    repository.setNoteForBranch(QStringLiteral("ghost"), "x\n");
    MessageCapture quiet;
    std::unique_ptr<Repository::Transaction> unknown(
        repository.beginTransaction(QStringLiteral("ghost"), QStringLiteral("/g/"), 1).takeValue());
    unknown->setCommitter("A <a@b>");
    unknown->setCommitTime(9);
    EXPECT_TRUE(unknown->writeNote("g", true));
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("ghost")), QByteArray());

    const QByteArray mirror = read(QStringLiteral("gitlog-repo"));
    EXPECT_TRUE(mirror.contains("data 49\nAppending Git note for current refs/heads/master\n\n"
                                "N inline refs/heads/master\ndata 18\nfirst line\nsecond\n\n"));
    EXPECT_TRUE(mirror.contains("data 37\nAdding Git note for current 0123abcd\n\n"
                                "N inline 0123abcd\ndata 6\nother\n\n"));
    EXPECT_TRUE(mirror.contains("data 45\nAdding Git note for current refs/heads/ghost\n\n"
                                "N inline refs/heads/ghost\ndata 2\ng\n\n"));

    // A run without notes leaves an existing branch-notes file alone.
    write(QStringLiteral("repo/branchNotes-repo"), "old contents");
    FastImportRepository empty(rule(QStringLiteral("other")), options);
    EXPECT_TRUE(empty.storeBranchNotes().ok());
    EXPECT_EQ(read(QStringLiteral("repo/branchNotes-repo")), QByteArray("old contents"));
}

TEST_F(TagsAndNotesTest, DamagedBranchNotesFileLoadsEmpty)
{
    setOptions({&RepositoryOptions::dryRun});
    const QByteArray good = bigEndian32(1) + streamedString(QStringLiteral("master")) + streamedBytes("n\n");
    write(QStringLiteral("repo/branchNotes-repo"), good);
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        repository.loadBranchNotes();
        EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray("n\n"));
    }
    for (const QByteArray &damaged :
         {bigEndian32(0xffffffffu) + good.mid(4), good.left(good.size() - 1), good + QByteArray(1, '\0')}) {
        write(QStringLiteral("repo/branchNotes-repo"), damaged);
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        repository.setNoteForBranch(QStringLiteral("master"), "before\n");
        MessageCapture capture;
        repository.loadBranchNotes();
        EXPECT_EQ(repository.noteForBranch(QStringLiteral("master")), QByteArray());
        EXPECT_TRUE(capture.containsText(QStringLiteral("WARN: \"repo\" the branch notes file "
                                                    "\"repo/branchNotes-repo\" is damaged: taking the notes from git")));
    }
}

} // namespace
