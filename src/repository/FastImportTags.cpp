// Annotated tags of FastImportRepository, with their file and journal.
#include "repository/FastImportRepository.h"

#include "repository/AnnotatedTagJournal.h"
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

void FastImportRepository::recordAnnotatedTag(const QString &branch, const QString &svnPrefix,
                                              int revision, const QByteArray &author, uint epoch,
                                              const QByteArray &logMessage)
{
    const QString tagName = tagNameFor(branch);
    // The tag name and ref end up on command lines of their own.
    if (FastImportStream::containsLineFeed(branch)) {
        qWarning() << "WARN: annotated tag" << tagName << "in repository" << m_repositoryName
                   << "is not recorded: a tag name must not contain a line feed";
        return;
    }

    if (m_annotatedTags.contains(tagName))
        printf("\nRe-creating annotated tag %s for %s\n", qPrintable(tagName),
               qPrintable(m_repositoryName));
    else
        printf("\nCreating annotated tag %s (%s) for %s\n", qPrintable(tagName),
               qPrintable(branch), qPrintable(m_repositoryName));
    fflush(stdout);

    m_changedTags.insert(tagName);
    m_tagChangeRevision = revision;
    AnnotatedTag &tag = m_annotatedTags[tagName];
    tag.taggedRef = branch;
    tag.svnPrefix = svnPrefix.toUtf8();
    tag.revision = revision;
    tag.author = author;
    tag.logMessage = logMessage;
    tag.epoch = epoch;
}

void FastImportRepository::loadAnnotatedTags()
{
    const QString fileName = RepositoryFileNames::annotatedTagsFilePath(m_repositoryName, m_options.createDump);
    if (PersistedTable::load(fileName, m_annotatedTags) == PersistedTable::LoadResult::Damaged) {
        qWarning() << "WARN:" << m_repositoryName << "the annotated tags file" << fileName
                   << "is damaged: taking the tags from git";
        recoverAnnotatedTagsFromGit();
    }
    const AnnotatedTagJournal journal(
        RepositoryFileNames::annotatedTagChangesFilePath(m_repositoryName, m_options.createDump));
    const qsizetype loaded = m_annotatedTags.size();
    const bool journalFound = journal.replay(m_annotatedTags, m_resumeRevision > 0 ? m_resumeRevision : INT_MAX);
    dropTagsBeyondTheLog();
    // Folded into the tags file, so that the records of revisions that will
    // be converted again do not stay in the journal before their new ones.
    if (journalFound || m_annotatedTags.size() != loaded) {
        // Unsaved, the file and the journal stay as they were: nothing is lost.
        if (Status saved = saveAnnotatedTags(); !saved)
            qWarning().noquote() << "WARN:" << saved.failure().message();
    }
}

// Tags recorded in revisions that will be converted again are recorded anew
// then; a tag whose branch the log does not know as live would name a ref
// that fast-import does not have, which kills it.
void FastImportRepository::dropTagsBeyondTheLog()
{
    if (m_resumeRevision == 0)
        return;
    QStringList names = m_annotatedTags.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : std::as_const(names)) {
        const AnnotatedTag tag = m_annotatedTags.value(name);
        if (tag.revision < m_resumeRevision && hasLiveHead(tag.taggedRef))
            continue;
        qDebug() << "Removing annotated tag" << name << "for" << m_repositoryName;
        m_annotatedTags.remove(name);
    }
}

bool FastImportRepository::hasLiveHead(const QString &branch) const
{
    return m_branches.headMark(branch) > 0;
}

// Before the commands of a revision reach fast-import, which stores every
// ref it was given even when the converter dies, the tags file and the
// journal must already know the revision's tags. Writing only the changes
// keeps this cheap on histories with thousands of tags.
Status FastImportRepository::journalTagChanges()
{
    if (m_changedTags.isEmpty())
        return Status();
    const QString fileName =
        RepositoryFileNames::annotatedTagChangesFilePath(m_repositoryName, m_options.createDump);
    const Status appended =
        AnnotatedTagJournal(fileName).append(m_tagChangeRevision, m_changedTags, m_annotatedTags);
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
Status FastImportRepository::saveAnnotatedTags()
{
    const QString fileName = RepositoryFileNames::annotatedTagsFilePath(m_repositoryName, m_options.createDump);
    if (m_annotatedTags.isEmpty()) {
        if (QFile::exists(fileName) && !QFile::remove(fileName))
            return Failure() << "Cannot remove the emptied annotated tags file" << fileName
                             << "of repository" << m_repositoryName;
    } else if (Status stored = PersistedTable::store(fileName, m_annotatedTags);
               !stored && !m_options.dryRun) {
        return stored.failure().within(Failure() << "Cannot save the annotated tags of repository"
                                                 << m_repositoryName);
    }
    AnnotatedTagJournal(RepositoryFileNames::annotatedTagChangesFilePath(m_repositoryName, m_options.createDump)).remove();
    m_changedTags.clear();
    return Status();
}

// A deleted ref takes the tag recorded from it with it, whether it was
// recorded from a ref under "refs/tags/" or from a plain branch name.
void FastImportRepository::removeTagsOfDeletedRefs()
{
    QStringList refs = m_deletedRefs.values();
    std::sort(refs.begin(), refs.end());
    for (const QString &ref : std::as_const(refs)) {
        if (m_resetRefs.contains(ref))
            continue;
        QStringList names{ref};
        for (const QLatin1String prefix : {QLatin1String("refs/tags/"), QLatin1String("refs/heads/")}) {
            if (ref.startsWith(prefix))
                names.append(ref.mid(prefix.size()));
        }
        for (const QString &name : std::as_const(names)) {
            const auto tag = m_annotatedTags.constFind(name);
            if (tag == m_annotatedTags.constEnd()
                || GitNames::refFor(tag->taggedRef) != ref.toUtf8())
                continue;
            // Written by an earlier run, the tag object of a plain branch
            // has a ref of its own, which must go with the branch.
            const QByteArray tagRef = "refs/tags/" + name.toUtf8();
            if (tagRef != ref.toUtf8())
                m_pendingDeletions += "reset " + tagRef + "\nfrom " + QByteArray(40, '0') + "\n\n";
            m_annotatedTags.erase(tag);
            m_changedTags.insert(name);
            m_tagChangeRevision = m_pendingUpdatesRevision;
            qDebug() << "Removing annotated tag" << name << "for" << m_repositoryName;
        }
    }
}

// Every branch head is announced to a new fast-import, which turns the refs of
// annotated tags back into plain commits until the tags are written again at
// the end of the run; without its table a run would leave them so. The tag
// objects in git hold all a table entry needs: tagger, date and message, and
// the path and revision in the metadata of the message or of the note.
void FastImportRepository::recoverAnnotatedTagsFromGit()
{
    const GitObjectReader git(m_repositoryName);
    const QHash<QByteArray, QByteArray> notes = notesInGit(marksFileObjects());
    const bool metadataInMessage =
        m_options.addMetadata;

    for (const QString &name : git.annotatedTagNames()) {
        const QString taggedRef = hasBranch(QStringLiteral("refs/tags/") + name)
                                      ? QStringLiteral("refs/tags/") + name
                                      : name;
        const TagObject object =
            TagObject::parse(git.objectContent("tag", "refs/tags/" + name.toUtf8()));
        if (!object.valid || !hasBranch(taggedRef)) {
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
        m_annotatedTags.insert(name, tag);
    }
}

Status FastImportRepository::writeAnnotatedTags()
{
    // Saved before anything is sent, so the tags survive a failing process.
    const bool stateKept =
        QFile::exists(RepositoryFileNames::annotatedTagsFilePath(m_repositoryName, m_options.createDump))
        || QFile::exists(RepositoryFileNames::annotatedTagChangesFilePath(m_repositoryName, m_options.createDump));
    if (!m_annotatedTags.isEmpty() || stateKept) {
        if (Status saved = saveAnnotatedTags(); !saved)
            return saved;
    }
    if (m_annotatedTags.isEmpty())
        return Status();

    printf("Finalising annotated tags for %s...", qPrintable(m_repositoryName));
    fflush(stdout);
    // A process that died has been reported; the tags wait in their file.
    if (!ensureImportRunning()) {
        printf("\n");
        fflush(stdout);
        return Status();
    }

    // A dump that is resumed loses these tags and their notes, and gets them
    // again at the end of the next run: the notes kept for it are those
    // without them.
    const QHash<QString, QByteArray> notesBeforeTags = m_branchNotes;
    const bool updatesNeverSent = !m_pendingResets.isEmpty() || !m_pendingDeletions.isEmpty();
    // In name order, so that every run writes the same stream.
    QStringList tagNames = m_annotatedTags.keys();
    std::sort(tagNames.begin(), tagNames.end());
    for (const QString &name : std::as_const(tagNames)) {
        const AnnotatedTag tag = m_annotatedTags.value(name);
        // A revision that failed before its branch updates reached
        // fast-import leaves its tags without the refs they name; they are
        // recorded again when the revision is converted again.
        if (updatesNeverSent && tag.revision == m_tagChangeRevision) {
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
        writeAnnotatedTag(name, tag);
        printf(" %s", name.toLocal8Bit().constData());
        fflush(stdout);
    }

    drainImportProcess(false);
    printf("\n");
    fflush(stdout);
    if (m_options.createDump)
        m_branchNotes = notesBeforeTags;
    return Status();
}

// The tag object, and the tag's metadata in the note of the tagged commit.
void FastImportRepository::writeAnnotatedTag(const QString &name, const AnnotatedTag &tag)
{
    const QByteArray tagName = name.toUtf8();
    const QByteArray message = messageWithMetadata(
            tag.logMessage,
            m_options.addMetadata ? formatMetadata(tag.svnPrefix, tag.revision, tagName)
                                  : QByteArray());

    const QByteArray ref = GitNames::refFor(tag.taggedRef);
    m_importProcess.channel().writeMirrored("progress Creating annotated tag " + tagName + " from ref "
                                + ref + "\ntag " + tagName + "\nfrom " + ref + "\ntagger "
                                + tag.author + " " + QByteArray::number(tag.epoch)
                                + " +0000\ndata " + QByteArray::number(message.size()) + "\n"
                                + message + "\n");
    drainImportProcess(false);
    if (!m_options.addMetadataNotes)
        return;
    // Tags with a line feed in their ref are never recorded, so the
    // transaction opens.
    Result<std::unique_ptr<Repository::Transaction>> transaction =
            beginTransaction(tag.taggedRef, QString::fromUtf8(tag.svnPrefix), tag.revision);
    if (!transaction)
        return;
    transaction.value()->setCommitter(tag.author);
    transaction.value()->setCommitTime(tag.epoch);
    if (transaction.value()->writeNote(formatMetadata(tag.svnPrefix, tag.revision, tagName), true))
        drainImportProcess(false);
}
