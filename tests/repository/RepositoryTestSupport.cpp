#include "RepositoryTestSupport.h"

#include "TestSupport.h"
#include "common/FailureReporter.h"
#include "repository/ActiveProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIODevice>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The program runs with an application object; so do the tests.
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "repository_tests";
        static char *argv[] = {name, nullptr};
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { application.reset(); }

private:
    std::unique_ptr<QCoreApplication> application;
};

::testing::Environment *const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

void RepositoryTest::SetUp()
{
    ASSERT_TRUE(temporaryDirectory.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("git")));
    previousDirectory = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(temporaryDirectory.path()));
    const QString config = temporaryDirectory.filePath(QStringLiteral("test-gitconfig"));
    QFile::remove(config);
    qputenv("GIT_CONFIG_GLOBAL", QFile::encodeName(config));
    qputenv("GIT_CONFIG_NOSYSTEM", "1");
    setOptions({});
    ActiveProcessList::setCapacity(ActiveProcessList::defaultCapacity);
}

void RepositoryTest::TearDown()
{
    QDir::setCurrent(previousDirectory);
}

namespace {

// Failures the repositories report at once go to the logger, where the tests'
// message capture sees them.
class LoggerReporter : public FailureReporter
{
protected:
    void print(const Failure &failure) override { qCritical().noquote() << failure.message(); }
};

} // namespace

void RepositoryTest::setOptions(std::initializer_list<OptionSwitch> switches)
{
    static LoggerReporter reporter;
    options = RepositoryOptions();
    options.failureReporter = &reporter;
    for (const OptionSwitch option : switches)
        options.*option = true;
}

RepositoryRule RepositoryTest::rule(const QString &name, const QStringList &branches,
                                    const QString &description)
{
    RepositoryRule result;
    result.rulesFile = QStringLiteral("test.rules");
    result.lineNumber = 1;
    result.name = name;
    for (const QString &branch : branches) {
        DeclaredBranch declared;
        declared.name = branch;
        result.branches.append(declared);
    }
    result.description = description;
    return result;
}

std::unique_ptr<FastImportRepository> RepositoryTest::makeRepository(const QString &name,
                                                                     const QStringList &branches)
{
    return std::make_unique<FastImportRepository>(rule(name, branches), options);
}

QString RepositoryTest::git(const QString &directory, const QString &arguments) const
{
    const TestSupport::CommandResult result =
        TestSupport::shell(QStringLiteral("git ") + arguments, path(directory));
    return QString::fromUtf8(result.standardOutput).trimmed();
}

int RepositoryTest::gitExitCode(const QString &directory, const QString &arguments) const
{
    return TestSupport::shell(QStringLiteral("git ") + arguments + QStringLiteral(" >/dev/null 2>&1"),
                              path(directory))
        .exitCode;
}

QString RepositoryTest::path(const QString &relative) const
{
    return temporaryDirectory.filePath(relative);
}

QByteArray RepositoryTest::read(const QString &relative) const
{
    return TestSupport::readFile(path(relative));
}

void RepositoryTest::write(const QString &relative, const QByteArray &contents) const
{
    TestSupport::writeFile(path(relative), contents);
}

void RepositoryTest::writeMarks(const QString &repositoryName, int count) const
{
    QByteArray marks;
    for (int mark = 1; mark <= count; ++mark)
        marks += ":" + QByteArray::number(mark) + " " + QByteArray(40, 'a') + "\n";
    QString flattened = repositoryName;
    flattened.replace(QLatin1Char('/'), QLatin1Char('_'));
    write(repositoryName + QStringLiteral("/marks-") + flattened, marks);
}

void commitFiles(Repository &repository, const QString &branch, int revision,
                 const QList<FileEntry> &files, const QStringList &removals,
                 const QByteArray &message, const QList<QPair<QString, int>> &mergeSources,
                 const QString &svnPrefix)
{
    std::unique_ptr<Repository::Transaction> transaction(
        repository.beginTransaction(branch, svnPrefix, revision).takeValue());
    ASSERT_TRUE(transaction);
    for (const QString &removal : removals)
        transaction->removePath(removal);
    for (const auto &source : mergeSources)
        transaction->recordMergeSource(source.first, source.second);
    for (const FileEntry &file : files) {
        QIODevice *device = transaction->openFile(file.path, file.mode, file.content.size()).value();
        device->write(file.content);
        device->write("\n");
    }
    EXPECT_TRUE(repository.flushPendingUpdates().ok());
    transaction->setCommitter("Test User <test@example.com>");
    transaction->setCommitTime(1000000000u + uint(revision));
    transaction->setMessage(message);
    ASSERT_TRUE(transaction->writeCommit().ok());
}

StdoutCapture::StdoutCapture() : directory(std::make_unique<QTemporaryDir>())
{
    fflush(stdout);
    fileName = directory->filePath(QStringLiteral("stdout"));
    savedDescriptor = dup(STDOUT_FILENO);
    const int descriptor =
        open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(descriptor, STDOUT_FILENO);
    close(descriptor);
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

QByteArray StdoutCapture::finish()
{
    if (!finished) {
        finished = true;
        fflush(stdout);
        dup2(savedDescriptor, STDOUT_FILENO);
        close(savedDescriptor);
    }
    return TestSupport::readFile(fileName);
}
