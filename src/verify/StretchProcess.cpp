#include "verify/StretchProcess.h"

#include "verify/StateWalk.h"
#include "verify/VerifyReport.h"

#include <QByteArray>
#include <QDataStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include <fcntl.h>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

Failure systemFailure(const char *what)
{
    return Failure::fatal(QStringLiteral("cannot %1: %2")
                                  .arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno))));
}

Failure noResult()
{
    return Failure::fatal(QStringLiteral("a process of the check ended without its result"));
}

// What a child found, as bytes: whether it succeeded (else its failure),
// its differences, the states it checked.
QByteArray outcomeOf(const Status &status, const StateWalk &walk)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << bool(status);
    if (!status)
        out << status.failure().message() << status.failure().cause();
    out << qint32(walk.differences().size());
    for (const Difference &difference : walk.differences())
        out << qint32(difference.revision) << difference.repository << difference.branch
            << difference.path << difference.kind << difference.detail;
    out << walk.report();
    return bytes;
}

Status readOutcome(const QByteArray &bytes, QList<Difference> *differences, VerifyReport *report)
{
    QDataStream in(bytes);
    bool succeeded = false;
    in >> succeeded;
    std::optional<Failure> failure;
    if (!succeeded) {
        QString message;
        QByteArray cause;
        in >> message >> cause;
        failure = Failure::fatal(message);
        failure->setCause(cause);
    }
    qint32 count = 0;
    in >> count;
    for (qint32 index = 0; index < count && in.status() == QDataStream::Ok; ++index) {
        Difference difference;
        qint32 revision = 0;
        in >> revision >> difference.repository >> difference.branch >> difference.path
                >> difference.kind >> difference.detail;
        difference.revision = revision;
        differences->append(difference);
    }
    in >> *report;
    if (in.status() != QDataStream::Ok)
        return noResult();
    return failure ? Status(*failure) : Status();
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t now = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (now < 0 && errno == EINTR)
            continue;
        if (now <= 0)
            return false;
        written += now;
    }
    return true;
}

} // namespace

StretchProcess::~StretchProcess()
{
    if (m_pipe >= 0)
        ::close(m_pipe);
    if (m_child > 0) {
        ::kill(m_child, SIGTERM);
        ::waitpid(m_child, nullptr, 0);
    }
}

StretchProcess::Shared *StretchProcess::makeShared()
{
    void *memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) Shared;
}

void StretchProcess::freeShared(Shared *shared)
{
    if (!shared)
        return;
    shared->~Shared();
    ::munmap(shared, sizeof(Shared));
}

Status StretchProcess::start(StateWalk &walk)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return systemFailure("make a pipe");
    const pid_t parent = ::getpid();
    m_child = ::fork();
    if (m_child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return systemFailure("start a process");
    }
    if (m_child == 0) {
        // The child: nothing of the parent's is let go on the way out, so
        // that no file, process or line on the terminal is touched twice.
        ::close(ends[0]);
        // A check whose parent is gone has no one to report to.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(1);
        const Status status = walk.run(nullptr);
        const bool written = writeAll(ends[1], outcomeOf(status, walk));
        ::_exit(written ? 0 : 1);
    }
    ::close(ends[1]);
    m_pipe = ends[0];
    return Status();
}

Status StretchProcess::finish(QList<Difference> *differences, VerifyReport *report)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(m_pipe, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(m_pipe);
    m_pipe = -1;
    int status = 0;
    while (::waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
    }
    m_child = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes.isEmpty())
        return noResult();
    return readOutcome(bytes, differences, report);
}
