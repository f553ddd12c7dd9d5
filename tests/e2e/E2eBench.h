#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *stream)
{
    *stream << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray &bytes, std::ostream *stream)
{
    *stream << '"' << bytes.toStdString() << '"';
}

// A Subversion repository and an output directory for runs of the program.
class E2eBench
{
public:
    E2eBench();

    bool isValid() const { return m_valid; }
    QString repositoryPath() const { return path(QStringLiteral("svnrepo")); }
    QString outputDirectory() const { return path(QStringLiteral("out")); }
    QString path(const QString &name) const { return m_directory.path() + '/' + name; }

    // svnmucc actions relative to the repository root; a word @TEXT stands
    // for a file with that content. Returns the new revision or -1.
    int commit(const QStringList &actions, const QString &message = QStringLiteral("change"),
               const QString &user = QStringLiteral("alice"));
    void setRevisionProperty(int revision, const QString &name, const QByteArray &value);

    // Writes a rules file and returns its path.
    QString writeRules(const QString &name, const QByteArray &text);

    // Runs the program in the output directory with the options and the
    // repository path.
    TestSupport::CommandResult convert(const QStringList &options);
    // Makes the Subversion repository with the svn client: runs the script
    // tests/support/SCRIPT with the repository and a working-copy path.
    TestSupport::CommandResult makeHistory(const QString &script);

    // Runs git in the named output repository; returns its standard output.
    QByteArray git(const QString &repository, const QStringList &arguments,
                   int *exitCode = nullptr);
    // The git revision of a commit-ish, or empty.
    QByteArray revParse(const QString &repository, const QString &commitish);
    // "name mode" lines of the tree of a commit-ish, recursively, sorted.
    QStringList tree(const QString &repository, const QString &commitish);
    QByteArray fileAt(const QString &repository, const QString &commitish, const QString &file);
    QStringList refs(const QString &repository);
    // Whether "git fsck --strict" finds the repository sound.
    bool fsckClean(const QString &repository);

private:
    QTemporaryDir m_directory;
    bool m_valid = false;
    int m_fileCounter = 0;
};
