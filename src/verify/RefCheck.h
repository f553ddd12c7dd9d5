#pragma once

#include "verify/ConversionLog.h"
#include "verify/Difference.h"
#include "verify/HistoryCheck.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

// Compares the refs git holds in one repository with those the log
// explains: every branch and tag at its last recorded commit, every backup
// ref at the commit it saves, and no other.
class RefCheck
{
public:
    // Reads the refs of repository.
    explicit RefCheck(const QString &repository);

    // The commit each ref gives, tags peeled.
    const QHash<QString, QByteArray> &refs() const { return m_refs; }
    // The object a ref names when it is a tag object; empty otherwise.
    QByteArray tagObject(const QString &ref) const { return m_tagObjects.value(ref); }

    // A ref at a commit no mark of marksFile records is an "unrecorded commit".
    void checkBranches(ConversionLog &log, const QString &marksFile,
                       QList<Difference> *out) const;
    void checkBackups(const QMap<QString, HistoryCheck::Backup> &backups,
                      QList<Difference> *out) const;

    // "refs/heads/NAME" for a plain branch name, the name itself for a full ref.
    static QString refOf(const QString &branch);

private:
    void markUnrecorded(const QString &marksFile, QList<Difference> *differences) const;
    void checkExtraRef(const QString &ref, const QByteArray &commit,
                       const QMap<QString, ConversionLog::State> &last,
                       const QHash<quint64, QByteArray> &commits, QList<Difference> *out) const;

    QString m_repository;
    QHash<QString, QByteArray> m_refs;
    QHash<QString, QByteArray> m_tagObjects;
};
