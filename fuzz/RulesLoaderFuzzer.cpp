// libFuzzer target: one input is one rules file. The bytes are read as an
// identity map and as a revision list, then loaded as rules through
// RulesFileSet.
//
// A faulty rules file makes the loader return a fatal failure; for bad input
// that is the designed outcome, not a finding, as long as the message is one
// the loader documents and nothing is left open.
//
// A finding is anything else: a crash, a sanitizer report (leaks included), a
// hang, a failure of another text, a message at the logger's fatal level, or
// a loaded result that breaks one of the checks below.

#include "svn/IdentityMapFile.h"
#include "svn/RevisionList.h"
#include "driver/RuleStatistics.h"
#include "rules/RulesFileSet.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The newest revision the revision-list reader is told about.
const int latestRevision = 1000;

std::string scratchDirectory;
std::string rulesFileName; // rewritten for every input
// Our own copy of the original standard error: fuzz/run hides the target's
// standard error (the readers complain about every odd line), but a finding
// must still be explained.
int reportFd = 2;

// Loads that completed, and loads that ended with an expected fault.
unsigned long completedLoads = 0;
unsigned long rejectedLoads = 0;

// The loader's fault messages, as far as they do not depend on the input.
const char *const expectedFaultPrefixes[] = {
    "Could not read the rules file: ",
    "Rules file includes itself: ",
    "Undeclared variable: ",
    "Malformed line in rules file: line ",
    "Malformed regular expression '",
    "Malformed substitution in rules file: line ",
    "Specifing repository and description on repository is invalid on line ",
    "Specifing repository and branches on repository is invalid on line ",
    "Invalid action \"",
    "Line ",
    "The rules file ",
};

void report(const QByteArray &text)
{
    const QByteArray line = "RulesLoaderFuzzer: " + text + '\n';
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(reportFd, line.constData() + written, size_t(line.size() - written));
        if (n <= 0)
            return;
        written += n;
    }
}

[[noreturn]] void finding(const QByteArray &text)
{
    report(text);
    abort();
}

bool isExpectedFault(const QString &message)
{
    // The file under test always exists: failing to open it is the harness's
    // fault (for instance descriptors leaking), not the input's.
    if (message == QLatin1String("Could not read the rules file: ") + QString::fromStdString(rulesFileName))
        return false;
    for (const char *prefix : expectedFaultPrefixes)
        if (message.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Debug messages and warnings are part of normal loading; drop them.
    if (type != QtFatalMsg)
        return;
    // Below the driver nothing ends the process.
    report("unexpected fatal message: " + message.toLocal8Bit());
    // Returning lets Qt abort, which libFuzzer records as a crash.
}

void writeFile(const std::string &name, const void *data, size_t size)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        finding(QByteArray("cannot write ") + name.c_str());
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0)
            finding(QByteArray("cannot write ") + name.c_str());
        bytes += n;
        size -= size_t(n);
    }
    ::close(fd);
}

void writeFile(const std::string &name, const char *text)
{
    writeFile(name, text, strlen(text));
}

// Files the input can include by name; they are part of the dictionary.
const struct
{
    const char *name;
    const char *text;
} helperFiles[] = {
    {"other.rules", "create repository other\nend repository\n"
                    "match /other/([^/]+)/\n  repository other\n  branch \\1\nend match\n"},
    {"vars.rules", "declare V=value\ndeclare PATTERN=[^/]+\ndeclare REPO=other\n"},
    {"loop.rules", "include fuzz.rules\n"},
    {"sub/inner.rules", "declare INNER=inner\ninclude ../other.rules\nmatch /${INNER}/\nend match\n"},
};

void atExit()
{
    report("loads completed: " + QByteArray::number(qulonglong(completedLoads))
           + ", ended by a rules fault: " + QByteArray::number(qulonglong(rejectedLoads)));
    for (const auto &file : helperFiles)
        ::unlink((scratchDirectory + '/' + file.name).c_str());
    ::unlink(rulesFileName.c_str());
    ::rmdir((scratchDirectory + "/sub").c_str());
    ::rmdir(scratchDirectory.c_str());
}

void createScratchDirectory()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallowmere-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        finding("cannot create a scratch directory");
    scratchDirectory = pattern;
    rulesFileName = scratchDirectory + "/fuzz.rules";
    ::mkdir((scratchDirectory + "/sub").c_str(), 0700);
    for (const auto &file : helperFiles)
        writeFile(scratchDirectory + '/' + file.name, file.text);
    atexit(atExit);
}

// What every successfully loaded rules set must satisfy.
void checkRules(const RulesFileSet &rules)
{
    const QList<QList<MatchRule>> lists = rules.matchRuleLists();
    if (lists.size() != 1)
        finding("one rules file gave " + QByteArray::number(lists.size()) + " match rule lists");
    for (const QList<MatchRule> &list : lists) {
        for (const MatchRule &rule : list) {
            const QByteArray where = rule.summary().toLocal8Bit();
            if (!rule.pattern.isValid())
                finding("match rule with an invalid pattern: " + where);
            if (rule.rulesFile.isEmpty() || rule.lineNumber < 1)
                finding("match rule without a place: " + where);
            if (!rule.repository.isEmpty() && rule.action != RuleAction::Export)
                finding("match rule with a repository that does not export: " + where);
            for (const Substitution &substitution : rule.repositorySubstitutions + rule.branchSubstitutions)
                if (!substitution.isValid())
                    finding("match rule with an invalid substitution: " + where);
        }
    }
    for (const RepositoryRule &rule : rules.repositoryRules()) {
        const QByteArray where = rule.rulesFile.toLocal8Bit() + ':' + QByteArray::number(rule.lineNumber);
        if (rule.name.isEmpty() || rule.rulesFile.isEmpty() || rule.lineNumber < 1)
            finding("repository rule without a name or place: " + where);
        if (!rule.targetName.isEmpty() && (!rule.description.isEmpty() || !rule.branches.isEmpty()))
            finding("forwarding repository rule with a description or branches: " + where);
    }
}

std::set<int> openDescriptors()
{
    std::set<int> descriptors;
    DIR *directory = opendir("/proc/self/fd");
    if (!directory)
        finding("cannot list /proc/self/fd");
    const int own = dirfd(directory);
    while (const dirent *entry = readdir(directory)) {
        const int fd = atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != own)
            descriptors.insert(fd);
    }
    closedir(directory);
    return descriptors;
}

// Loads the rules file with the statistics on, so that every completed match
// rule is registered; fresh statistics for every input.
void loadRules()
{
    const std::set<int> descriptorsBefore = openDescriptors();
    {
        RuleStatistics statistics(true);
        RulesFileSet rules(QString::fromStdString(rulesFileName), &statistics);
        const Status loaded = rules.load();
        if (loaded) {
            ++completedLoads;
            checkRules(rules);
        } else if (!loaded.failure().isFatal() || !isExpectedFault(loaded.failure().message())) {
            finding("unexpected failure: " + loaded.failure().message().toLocal8Bit());
        } else {
            ++rejectedLoads;
        }
    }
    if (openDescriptors() != descriptorsBefore)
        finding("a load left files open");
}

void checkIdentityMap(const IdentityMap &identities)
{
    for (auto it = identities.constBegin(); it != identities.constEnd(); ++it) {
        const QByteArray &name = it.key();
        if (name.isEmpty() || name.contains('#') || name.contains('\n') || it.value().contains('#')
            || it.value().contains('\n'))
            finding("identity map entry with an empty name, a comment or a line feed: " + name.left(200));
    }
}

void readRevisions()
{
    int asked = 0;
    const Result<RevisionSet> revisions = readRevisionList(QString::fromStdString(rulesFileName), [&asked] {
        ++asked;
        return latestRevision;
    });
    if (asked > 1)
        finding("the revision-list reader asked for the newest revision " + QByteArray::number(asked) + " times");
    if (!revisions) // a list that names no revision is refused as a whole
        return;
    for (int revision : revisions.value())
        if (revision < 0)
            finding("negative revision " + QByteArray::number(revision) + " in the revision list");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Runs before libFuzzer hides standard error.
    const int copy = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0)
        reportFd = copy;
    qInstallMessageHandler(messageHandler);
    createScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeFile(rulesFileName, data, size);

    if (const Result<IdentityMapContents> map = readIdentityMap(QString::fromStdString(rulesFileName)))
        checkIdentityMap(map.value().identities);
    readRevisions();
    loadRules();
    return 0;
}
