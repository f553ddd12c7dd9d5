#include "repository/AnnotatedTags.h"

#include "repository/AnnotatedTagJournal.h"
#include "repository/BranchNotes.h"
#include "repository/BranchTable.h"
#include "repository/CommitStream.h"
#include "repository/FastImportProcess.h"
#include "repository/FastImportStream.h"
#include "repository/GitNames.h"
#include "repository/GitObjectReader.h"
#include "repository/Metadata.h"
#include "repository/PersistedTable.h"
#include "repository/RepositoryFileNames.h"
#include "repository/TagObject.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

namespace {

QString tagNameFor(const QString &branch)
{
    const QLatin1String tagsPrefix("refs/tags/");
    if (branch.startsWith(tagsPrefix))
        return branch.mid(tagsPrefix.size());
    return branch;
}

} // namespace

AnnotatedTags::AnnotatedTags(const QString &repositoryName, const RepositoryOptions &options,
                             const BranchTable &branches, FastImportProcess &process,
                             BranchNotes &notes, CommitStream &commits)
    : m_repositoryName(repositoryName), m_options(options), m_branches(branches),
      m_process(process), m_notes(notes), m_commits(commits)
{
}

QString AnnotatedTags::tagsFileName() const
{
    return RepositoryFileNames::annotatedTagsFilePath(m_repositoryName, m_options.createDump);
}

QString AnnotatedTags::journalFileName() const
{
    return RepositoryFileNames::annotatedTagChangesFilePath(m_repositoryName, m_options.createDump);
}

void AnnotatedTags::record(const QString &branch, const QString &svnPrefix, int revision,
                           const QByteArray &author, uint epoch, const QByteArray &logMessage)
{
    const QString tagName = tagNameFor(branch);
    // The tag name and ref end up on command lines of their own.
    if (FastImportStream::containsLineFeed(branch)) {
        qWarning() << "WARN: annotated tag" << tagName << "in repository" << m_repositoryName
                   << "is not recorded: a tag name must not contain a line feed";
        return;
    }

    if (m_tags.contains(tagName))
        printf("\nRe-creating annotated tag %s for %s\n", qPrintable(tagName),
               qPrintable(m_repositoryName));
    else
        printf("\nCreating annotated tag %s (%s) for %s\n", qPrintable(tagName),
               qPrintable(branch), qPrintable(m_repositoryName));
    fflush(stdout);

    m_changedTags.insert(tagName);
    m_tagChangeRevision = revision;
    AnnotatedTag &tag = m_tags[tagName];
    tag.taggedRef = branch;
    tag.svnPrefix = svnPrefix.toUtf8();
    tag.revision = revision;
    tag.author = author;
    tag.logMessage = logMessage;
    tag.epoch = epoch;
}

void AnnotatedTags::load(int resumeRevision)
{
    const QString fileName = tagsFileName();
    if (PersistedTable::load(fileName, m_tags) == PersistedTable::LoadResult::Damaged) {
        qWarning() << "WARN:" << m_repositoryName << "the annotated tags file" << fileName
                   << "is damaged: taking the tags from git";
        recoverFromGit();
    }
    const AnnotatedTagJournal journal(
        journalFileName());
    const qsizetype loaded = m_tags.size();
    const bool journalFound = journal.replay(m_tags, resumeRevision > 0 ? resumeRevision : INT_MAX);
    dropTagsBeyondTheLog(resumeRevision);
    // Folded into the tags file, so that the records of revisions that will
    // be converted again do not stay in the journal before their new ones.
    if (journalFound || m_tags.size() != loaded) {
        // Unsaved, the file and the journal stay as they were: nothing is lost.
        if (Status saved = save(); !saved)
            qWarning().noquote() << "WARN:" << saved.failure().message();
    }
}

// Tags recorded in revisions that will be converted again are recorded anew
// then; a tag whose branch the log does not know as live would name a ref
// that fast-import does not have, which kills it.
void AnnotatedTags::dropTagsBeyondTheLog(int resumeRevision)
{
    if (resumeRevision == 0)
        return;
    QStringList names = m_tags.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : std::as_const(names)) {
        const AnnotatedTag tag = m_tags.value(name);
        if (tag.revision < resumeRevision && m_branches.headMark(tag.taggedRef) > 0)
            continue;
        qDebug() << "Removing annotated tag" << name << "for" << m_repositoryName;
        m_tags.remove(name);
    }
}

// Before the commands of a revision reach fast-import, which stores every
// ref it was given even when the converter dies, the tags file and the
// journal must already know the revision's tags. Writing only the changes
// keeps this cheap on histories with thousands of tags.
Status AnnotatedTags::journalChanges()
{
    if (m_changedTags.isEmpty())
        return Status();
    const QString fileName =
        journalFileName();
    const Status appended =
        AnnotatedTagJournal(fileName).append(m_tagChangeRevision, m_changedTags, m_tags);
    if (!appended && !m_options.dryRun)
        return Failure(appended.failure())
               << "of repository" << m_repositoryName
               << ": a killed run would lose the tags of revision" << m_tagChangeRevision;
    m_changedTags.clear();
    return Status();
}

// Replaces the tags file with the table, or removes it when the table is
// empty (a file left behind would bring back deleted tags), then drops the
// journal that the file now includes. A dry run has no repository to resume,
// so a state file it cannot write (it may have no repository directory) is no
// failure there, here and in the journal and the branch notes.
Status AnnotatedTags::save()
{
    const QString fileName = tagsFileName();
    if (m_tags.isEmpty()) {
        if (QFile::exists(fileName) && !QFile::remove(fileName))
            return Failure() << "Cannot remove the emptied annotated tags file" << fileName
                             << "of repository" << m_repositoryName;
    } else if (Status stored = PersistedTable::store(fileName, m_tags);
               !stored && !m_options.dryRun) {
        return stored.failure().within(Failure() << "Cannot save the annotated tags of repository"
                                                 << m_repositoryName);
    }
    AnnotatedTagJournal(journalFileName()).remove();
    m_changedTags.clear();
    return Status();
}

// A deleted ref takes the tag recorded from it with it, whether it was
// recorded from a ref under "refs/tags/" or from a plain branch name.
QByteArray AnnotatedTags::removeTagsOfDeletedRefs(const QStringList &deletedRefs, int revision)
{
    QByteArray commands;
    for (const QString &ref : deletedRefs) {
        QStringList names{ref};
        for (const QLatin1String prefix :
             {QLatin1String("refs/tags/"), QLatin1String("refs/heads/")}) {
            if (ref.startsWith(prefix))
                names.append(ref.mid(prefix.size()));
        }
        for (const QString &name : std::as_const(names)) {
            const auto tag = m_tags.constFind(name);
            if (tag == m_tags.constEnd()
                || GitNames::refFor(tag->taggedRef) != ref.toUtf8())
                continue;
            // Written by an earlier run, the tag object of a plain branch
            // has a ref of its own, which must go with the branch.
            const QByteArray tagRef = "refs/tags/" + name.toUtf8();
            if (tagRef != ref.toUtf8())
                commands += "reset " + tagRef + "\nfrom " + QByteArray(40, '0') + "\n\n";
            m_tags.erase(tag);
            m_changedTags.insert(name);
            m_tagChangeRevision = revision;
            qDebug() << "Removing annotated tag" << name << "for" << m_repositoryName;
        }
    }
    return commands;
}

// Every branch head is announced to a new fast-import, which turns the refs of
// annotated tags back into plain commits until the tags are written again at
// the end of the run; without its table a run would leave them so. The tag
// objects in git hold all a table entry needs: tagger, date and message, and
// the path and revision in the metadata of the message or of the note.
void AnnotatedTags::recoverFromGit()
{
    const GitObjectReader git(m_repositoryName);
    const QHash<QByteArray, QByteArray> notes = m_notes.notesInGit(m_notes.marksFileObjects());
    const bool metadataInMessage = m_options.addMetadata;

    for (const QString &name : git.annotatedTagNames()) {
        const QString taggedRef = m_branches.contains(QStringLiteral("refs/tags/") + name)
                                      ? QStringLiteral("refs/tags/") + name
                                      : name;
        const TagObject object =
            TagObject::parse(git.objectContent("tag", "refs/tags/" + name.toUtf8()));
        if (!object.valid || !m_branches.contains(taggedRef)) {
            qWarning() << "WARN:" << m_repositoryName << "annotated tag" << name
                       << "cannot be taken from git";
            continue;
        }

        AnnotatedTag tag;
        tag.taggedRef = taggedRef;
        tag.author = object.tagger;
        tag.epoch = object.epoch;
        tag.logMessage = object.message;
        const QByteArray tagName = name.toUtf8();
        const qsizetype lastLine = object.message.lastIndexOf('\n', object.message.size() - 2);
        QByteArray metadataLine = object.message.mid(lastLine + 1);
        if (metadataLine.endsWith('\n'))
            metadataLine.chop(1);
        if (metadataInMessage && lastLine >= 0
            && parseTagMetadata(metadataLine, tagName, &tag.svnPrefix, &tag.revision)) {
            // Written as the log message, a blank line and the metadata.
            tag.logMessage = object.message.left(lastLine);
        } else {
            findTagMetadata(git.objectContent("blob", notes.value(object.taggedObject)), tagName,
                            &tag.svnPrefix, &tag.revision);
        }
        m_tags.insert(name, tag);
    }
}

Status AnnotatedTags::write(bool updatesPending)
{
    // Saved before anything is sent, so the tags survive a failing process.
    const bool stateKept = QFile::exists(tagsFileName()) || QFile::exists(journalFileName());
    if (!m_tags.isEmpty() || stateKept) {
        if (Status saved = save(); !saved)
            return saved;
    }
    if (m_tags.isEmpty())
        return Status();

    printf("Finalising annotated tags for %s...", qPrintable(m_repositoryName));
    fflush(stdout);
    // A process that died has been reported; the tags wait in their file.
    if (!m_process.ensureRunning().ok()) {
        printf("\n");
        fflush(stdout);
        return Status();
    }

    // A dump that is resumed loses these tags and their notes, and gets them
    // again at the end of the next run: the notes kept for it are those
    // without them.
    const QHash<QString, QByteArray> notesBeforeTags = m_notes.all();
    writeInNameOrder(updatesPending);
    m_process.drain(false).ok();
    printf("\n");
    fflush(stdout);
    if (m_options.createDump)
        m_notes.replaceAll(notesBeforeTags);
    return Status();
}

// In name order, so that every run writes the same stream.
void AnnotatedTags::writeInNameOrder(bool updatesPending)
{
    QStringList tagNames = m_tags.keys();
    std::sort(tagNames.begin(), tagNames.end());
    for (const QString &name : std::as_const(tagNames)) {
        const AnnotatedTag tag = m_tags.value(name);
        // A revision that failed before its branch updates reached
        // fast-import leaves its tags without the refs they name; they are
        // recorded again when the revision is converted again.
        if (updatesPending && tag.revision == m_tagChangeRevision) {
            qDebug() << "Not writing annotated tag" << name << "of the unfinished revision"
                     << tag.revision;
            continue;
        }
        // A tag copied from a tree without files has no commit to point to;
        // it stays pending until its branch gets one.
        if (m_branches.headMark(tag.taggedRef) == 0) {
            qWarning() << "WARN: annotated tag" << name << "in repository" << m_repositoryName
                       << "is not written: its branch" << tag.taggedRef << "has no commit";
            continue;
        }
        writeTag(name, tag);
        printf(" %s", name.toLocal8Bit().constData());
        fflush(stdout);
    }
}

// The tag object, and the tag's metadata in the note of the tagged commit.
void AnnotatedTags::writeTag(const QString &name, const AnnotatedTag &tag)
{
    const QByteArray tagName = name.toUtf8();
    const QByteArray message = messageWithMetadata(
            tag.logMessage,
            m_options.addMetadata ? formatMetadata(tag.svnPrefix, tag.revision, tagName)
                                  : QByteArray());

    const QByteArray ref = GitNames::refFor(tag.taggedRef);
    m_process.channel().writeMirrored("progress Creating annotated tag " + tagName + " from ref "
                                + ref + "\ntag " + tagName + "\nfrom " + ref + "\ntagger "
                                + tag.author + " " + QByteArray::number(tag.epoch)
                                + " +0000\ndata " + QByteArray::number(message.size()) + "\n"
                                + message + "\n");
    m_process.drain(false).ok();
    if (!m_options.addMetadataNotes)
        return;
    // Tags with a line feed in their ref are never recorded, so the
    // transaction opens.
    Result<std::unique_ptr<Repository::Transaction>> transaction =
            m_commits.beginTransaction(tag.taggedRef, QString::fromUtf8(tag.svnPrefix),
                                       tag.revision);
    if (!transaction)
        return;
    transaction.value()->setCommitter(tag.author);
    transaction.value()->setCommitTime(tag.epoch);
    if (transaction.value()->writeNote(formatMetadata(tag.svnPrefix, tag.revision, tagName), true))
        m_process.drain(false).ok();
}
