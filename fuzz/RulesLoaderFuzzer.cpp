// libFuzzer target: one input is one rules file. The bytes are read as an
// identity map and as a revision list, then loaded as rules through
// RulesFileSet.
//
// A faulty rules file ends the loader through qFatal; for bad input that is
// the designed outcome, not a finding. Each load therefore runs on a thread of
// its own, and the message handler jumps (longjmp) back to the start of that
// thread when the fatal text is one the loader documents. Unwinding is not an
// option: the Qt frames between qFatal and the handler are noexcept, so an
// exception or pthread_exit's forced unwind ends in std::terminate. The jump
// leaves behind what the abandoned frames owned:
// - Qt's per-thread "a handler is running" flag stays set; it dies with the
//   thread, and the next input gets a new thread;
// - the open rules files: their descriptors are closed after the thread ends;
// - heap memory: it leaks, so leak detection is off (in the sanitizer
//   defaults below and in fuzz/run) and fuzz/run restarts the process now
//   and then.
//
// A finding is anything else: a crash, a sanitizer report, a hang, a fatal
// message of another text, or a loaded result that breaks one of the checks
// below.

#include "driver/CommandLineParser.h"
#include "driver/IdentityMap.h"
#include "driver/RevisionList.h"
#include "driver/RuleStatistics.h"
#include "rules/RulesFileSet.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
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

thread_local bool loadingRules = false;
thread_local jmp_buf *fatalExit = nullptr;
// Loads that completed, and loads that ended with an expected fatal message.
unsigned long completedLoads = 0;
unsigned long fatalLoads = 0;

// The loader's fatal messages, as far as they do not depend on the input.
const char *const expectedFatalPrefixes[] = {
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

bool isExpectedFatal(const QString &message)
{
    // The file under test always exists: failing to open it is the harness's
    // fault (for instance descriptors leaking), not the input's.
    if (message == QLatin1String("Could not read the rules file: ") + QString::fromStdString(rulesFileName))
        return false;
    for (const char *prefix : expectedFatalPrefixes)
        if (message.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Debug messages and warnings are part of normal loading; drop them.
    if (type != QtFatalMsg)
        return;
    if (loadingRules && fatalExit && isExpectedFatal(message))
        longjmp(*fatalExit, 1);
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
           + ", ended by a rules fault: " + QByteArray::number(qulonglong(fatalLoads)));
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

// Everything that owns resources lives here, below the frame that the fatal
// path jumps back to.
__attribute__((noinline)) void loadAndCheckRules()
{
    RulesFileSet rules(QString::fromStdString(rulesFileName));
    rules.load();
    loadingRules = false;
    checkRules(rules);
}

void *loadRules(void *completed)
{
    jmp_buf start;
    if (setjmp(start) != 0)
        return nullptr; // an expected fatal message ended the load
    fatalExit = &start;
    loadingRules = true;
    loadAndCheckRules();
    *static_cast<bool *>(completed) = true;
    return nullptr;
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

// Loads the rules file on a thread of its own (see the top of this file).
void loadRulesOnThread()
{
    const std::set<int> descriptorsBefore = openDescriptors();
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 4 * 1024 * 1024);
    bool completed = false;
    pthread_t thread;
    if (pthread_create(&thread, &attributes, loadRules, &completed) != 0)
        finding("cannot start a thread");
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
    if (completed) {
        ++completedLoads;
        if (openDescriptors() != descriptorsBefore)
            finding("a completed load left files open");
        return;
    }
    ++fatalLoads;
    // The abandoned QFile objects will never be used again.
    for (int fd : openDescriptors())
        if (!descriptorsBefore.count(fd))
            ::close(fd);
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
    const RevisionSet revisions = readRevisionList(QString::fromStdString(rulesFileName), [&asked] {
        ++asked;
        return latestRevision;
    });
    if (asked > 1)
        finding("the revision-list reader asked for the newest revision " + QByteArray::number(asked) + " times");
    for (int revision : revisions)
        if (revision < 0)
            finding("negative revision " + QByteArray::number(revision) + " in the revision list");
}

} // namespace

// The fatal path leaks by design (see the top of this file); a leak report at
// exit would only repeat that.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Runs before libFuzzer hides standard error.
    const int copy = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0)
        reportFd = copy;
    qInstallMessageHandler(messageHandler);

    // Statistics on, so that every completed match rule is registered.
    static char program[] = "RulesLoaderFuzzer";
    static char statsOption[] = "--stats";
    static char *arguments[] = {program, statsOption, nullptr};
    static const CommandLineParser::OptionTableRow options[] = {
        {"--stats", "count rule use"},
        {nullptr, nullptr},
    };
    CommandLineParser::init(2, arguments);
    CommandLineParser::addOptionDefinitions(options);

    createScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeFile(rulesFileName, data, size);

    checkIdentityMap(readIdentityMap(QString::fromStdString(rulesFileName)));
    readRevisions();

    // Fresh statistics for every input: registered rules must not pile up.
    RuleStatistics::initialize();
    if (!RuleStatistics::instance() || !RuleStatistics::instance()->isEnabled())
        finding("rule statistics are not enabled");
    loadRulesOnThread();
    return 0;
}
