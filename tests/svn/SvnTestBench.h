#pragma once

#include "OutputCapture.h"
#include "RecordingRepository.h"
#include "svn/IdentityMap.h"
#include "rules/MatchRule.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <ostream>

// Readable failure output for Qt strings.
inline void PrintTo(const QString &text, std::ostream *stream)
{
    *stream << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray &bytes, std::ostream *stream)
{
    *stream << '"' << bytes.toStdString() << '"';
}

// Sets the export options of later conversions from their command-line
// words ("--empty-dirs" and the like).
void setOptions(const QStringList &words);

using TestSupport::MessageCapture;

// A Subversion repository in a temporary directory, filled with svnmucc.
class SvnTestBench
{
public:
    SvnTestBench();

    bool isValid() const { return m_valid; }
    QString repositoryPath() const { return m_directory.path() + QStringLiteral("/repo"); }
    QString path(const QString &name) const { return m_directory.path() + '/' + name; }

    // Runs svnmucc with the actions, relative to the repository root. "put"
    // takes its content from a word of the form @TEXT, written to a file.
    // Returns the new revision, or -1 (the test fails then).
    int commit(const QStringList &actions, const QString &message = QStringLiteral("change"),
               const QString &user = QStringLiteral("alice"));

    void setRevisionProperty(int revision, const QString &name, const QByteArray &value);
    void deleteRevisionProperty(int revision, const QString &name);

    // Loads rules text as one rules file.
    QList<MatchRule> rules(const QByteArray &text);

    // Converts revisions first..last into the repositories; returns the
    // revision that failed, or 0. Standard output is captured into output.
    int convert(const QList<QList<MatchRule>> &ruleLists,
                const QList<RecordingRepository *> &repositories, int first, int last,
                QString *output = nullptr, const IdentityMap &identities = IdentityMap());

private:
    QTemporaryDir m_directory;
    bool m_valid = false;
    int m_fileCounter = 0;
    int m_rulesCounter = 0;
};
