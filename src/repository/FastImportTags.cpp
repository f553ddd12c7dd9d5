// Annotated tags and the persisted branch notes of FastImportRepository.
#include "repository/FastImportRepository.h"

#include "driver/CommandLineParser.h"
#include "repository/FastImportStream.h"
#include "repository/Metadata.h"
#include "repository/PersistedTable.h"
#include "repository/RepositoryFileNames.h"

#include <QDebug>

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
        qWarning() << "WARN: annotated tag" << tagName << "in repository" << repositoryName
                   << "is not recorded: a tag name must not contain a line feed";
        return;
    }

    if (annotatedTags.contains(tagName))
        printf("\nRe-creating annotated tag %s for %s\n", qPrintable(tagName),
               qPrintable(repositoryName));
    else
        printf("\nCreating annotated tag %s (%s) for %s\n", qPrintable(tagName),
               qPrintable(branch), qPrintable(repositoryName));
    fflush(stdout);

    AnnotatedTag &tag = annotatedTags[tagName];
    tag.taggedRef = branch;
    tag.svnPrefix = svnPrefix.toUtf8();
    tag.revision = revision;
    tag.author = author;
    tag.logMessage = logMessage;
    tag.epoch = epoch;
}

void FastImportRepository::loadAnnotatedTags()
{
    PersistedTable::load(RepositoryFileNames::annotatedTagsFilePath(repositoryName),
                         annotatedTags);
}

void FastImportRepository::writeAnnotatedTags()
{
    if (annotatedTags.isEmpty())
        return;

    // Saved before anything is sent, so the tags survive a failing process.
    PersistedTable::store(RepositoryFileNames::annotatedTagsFilePath(repositoryName),
                          annotatedTags);

    printf("Finalising annotated tags for %s...", qPrintable(repositoryName));
    fflush(stdout);
    ensureImportRunning();

    CommandLineParser *options = CommandLineParser::instance();
    const bool addMetadata = options->contains(QStringLiteral("add-metadata"));
    const bool addMetadataNotes = options->contains(QStringLiteral("add-metadata-notes"));

    for (auto it = annotatedTags.constBegin(); it != annotatedTags.constEnd(); ++it) {
        const QByteArray tagName = it.key().toUtf8();
        const AnnotatedTag &tag = it.value();

        QByteArray message = tag.logMessage;
        if (!message.endsWith('\n'))
            message += '\n';
        if (addMetadata)
            message += "\n" + formatMetadata(tag.svnPrefix, tag.revision, tagName);

        const QByteArray ref = FastImportStream::refFor(tag.taggedRef);
        importProcess.writeMirrored("progress Creating annotated tag " + tagName + " from ref "
                                    + ref + "\ntag " + tagName + "\nfrom " + ref + "\ntagger "
                                    + tag.author + " " + QByteArray::number(tag.epoch)
                                    + " +0000\ndata " + QByteArray::number(message.size()) + "\n"
                                    + message + "\n");
        drainImportProcess(false);

        if (addMetadataNotes) {
            std::unique_ptr<Repository::Transaction> transaction(beginTransaction(
                tag.taggedRef, QString::fromUtf8(tag.svnPrefix), tag.revision));
            if (transaction) {
                transaction->setCommitter(tag.author);
                transaction->setCommitTime(tag.epoch);
                if (transaction->writeNote(formatMetadata(tag.svnPrefix, tag.revision, tagName),
                                           true))
                    drainImportProcess(false);
            }
        }

        printf(" %s", it.key().toLocal8Bit().constData());
        fflush(stdout);
    }

    drainImportProcess(false);
    printf("\n");
    fflush(stdout);
}

void FastImportRepository::loadBranchNotes()
{
    PersistedTable::load(RepositoryFileNames::branchNotesFilePath(repositoryName), branchNotes);
}

void FastImportRepository::storeBranchNotes()
{
    if (branchNotes.isEmpty())
        return;
    PersistedTable::store(RepositoryFileNames::branchNotesFilePath(repositoryName), branchNotes);
}
