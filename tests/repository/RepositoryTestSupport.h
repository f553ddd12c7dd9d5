#pragma once

#include "repository/FastImportRepository.h"
#include "repository/RepositoryOptions.h"
#include "rules/RepositoryRule.h"
#include "OutputCapture.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <ostream>

// Readable failure output for the byte strings and texts the tests compare.
inline void PrintTo(const QByteArray &bytes, std::ostream *stream)
{
    *stream << "\"" << bytes.toStdString() << "\"";
}
inline void PrintTo(const QString &text, std::ostream *stream)
{
    *stream << "\"" << text.toStdString() << "\"";
}

// Shared set-up of the repository tests: every test works in its own
// temporary directory (the repository classes work relative to the current
// directory), with git reading only a configuration file of the test.
class RepositoryTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The options that the repositories of the test are made with: the
    // defaults with the given switches on.
    using OptionSwitch = bool RepositoryOptions::*;
    void setOptions(std::initializer_list<OptionSwitch> switches);

    static RepositoryRule rule(const QString &name, const QStringList &branches = {},
                               const QString &description = QString());
    std::unique_ptr<FastImportRepository> makeRepository(const QString &name,
                                                                const QStringList &branches = {});

    // Runs git inside the directory and returns its trimmed standard output.
    QString git(const QString &directory, const QString &arguments) const;
    int gitExitCode(const QString &directory, const QString &arguments) const;

    QString path(const QString &relative) const;
    QByteArray read(const QString &relative) const;
    void write(const QString &relative, const QByteArray &contents) const;

    // Writes a marks file listing the marks 1..count with made-up object names.
    void writeMarks(const QString &repositoryName, int count) const;

    RepositoryOptions options;
    QTemporaryDir temporaryDirectory;
    QString previousDirectory;
};

// A commit through the public transaction interface; files are (path, content).
struct FileEntry
{
    QString path;
    QByteArray content;
    int mode = 0100644;
};

void commitFiles(Repository &repository, const QString &branch, int revision,
                 const QList<FileEntry> &files, const QStringList &removals = {},
                 const QByteArray &message = "message",
                 const QList<QPair<QString, int>> &mergeSources = {},
                 const QString &svnPrefix = QStringLiteral("/trunk/"));

using TestSupport::MessageCapture;

// Collects what the process writes to its standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    QByteArray finish();

private:
    int savedDescriptor = -1;
    QString fileName;
    bool finished = false;
    std::unique_ptr<QTemporaryDir> directory;
};
