#include "repository/LoggingQProcess.h"

#include "repository/RepositoryFileNames.h"

#include <QDebug>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The converter and fast-import take turns: the converter stops whenever the
// pipe is full and fast-import is busy with what it has read, and fast-import
// stops whenever the pipe is empty. A larger pipe lets both work at the same
// time for longer. The pipe is enlarged up to the size that the system allows
// every user (fs.pipe-max-size), and never beyond this.
const int largestInputPipe = 1 << 20;

// Pipe buffers count against a per-user quota (fs.pipe-user-pages-soft, 64 MiB
// by default); a user over it gets tiny pipes everywhere. Only this many
// process objects (one per repository) at a time get an enlarged pipe, the
// others keep the default size.
const int largeInputPipesAllowed = 16;
int largeInputPipesInUse = 0;

// The size of the chunks in which the stream goes to the pipe: large enough
// that system calls and wake-ups do not count, small against the pipe.
const qsizetype chunkBytes = 64 * 1024;
// How long bytes wait for their chunk to fill.
constexpr std::chrono::milliseconds longestGathering(20);

int inputPipeSize()
{
    int size = largestInputPipe;
    QFile limit(QStringLiteral("/proc/sys/fs/pipe-max-size"));
    if (limit.open(QIODevice::ReadOnly)) {
        bool isNumber = false;
        const int systemLimit = limit.readAll().trimmed().toInt(&isNumber);
        if (isNumber && systemLimit > 0 && systemLimit < size)
            size = systemLimit;
    }
    return size;
}

} // namespace

LoggingQProcess::LoggingQProcess(const QString &repositoryName, bool mirror)
{
    if (mirror) {
        m_mirrorEnabled = true;
        m_mirrorFile.setFileName(RepositoryFileNames::mirrorFileName(repositoryName));
        if (!m_mirrorFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qWarning() << "WARN: cannot write the copy of the stream" << m_mirrorFile.fileName()
                       << ":" << qPrintable(m_mirrorFile.errorString());
    }

#ifdef F_SETPIPE_SZ
    if (largeInputPipesInUse < largeInputPipesAllowed) {
        ++largeInputPipesInUse;
        m_largeInputPipe = true;
        // Runs in the child between fork and exec, where standard input
        // already is the read end of the pipe; the size belongs to the pipe,
        // so the write end gains it too. A refusal keeps the default size.
        const int pipeSize = inputPipeSize();
        setChildProcessModifier([pipeSize] { ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, pipeSize); });
    }
#endif
}

LoggingQProcess::~LoggingQProcess()
{
    if (m_mirrorEnabled)
        m_mirrorFile.close();
    if (m_largeInputPipe)
        --largeInputPipesInUse;
}

qint64 LoggingQProcess::writeMirrored(const QByteArray &bytes)
{
    if (m_mirrorEnabled) {
        m_mirrorFile.write(bytes);
        // The mirror is a debugging aid: keep it complete even if the program
        // ends through a fatal message.
        m_mirrorFile.flush();
    }
    return write(bytes);
}

qint64 LoggingQProcess::writeData(const char *data, qint64 length)
{
    if (m_gathered.capacity() < chunkBytes)
        m_gathered.reserve(chunkBytes);
    if (m_gathered.isEmpty())
        m_gatheredSince = std::chrono::steady_clock::now();
    m_gathered.append(data, length);
    if (m_gathered.size() >= chunkBytes)
        handOverGathered();
    return length;
}

// QProcess keeps what it is given until the next wait, which writes it.
void LoggingQProcess::handOverGathered()
{
    if (m_gathered.isEmpty())
        return;
    QProcess::writeData(m_gathered.constData(), m_gathered.size());
    m_gathered.resize(0);
}

qint64 LoggingQProcess::bytesToWrite() const
{
    return m_gathered.size() + QProcess::bytesToWrite();
}

bool LoggingQProcess::waitForBytesWritten(int msecs)
{
    handOverGathered();
    return QProcess::waitForBytesWritten(msecs);
}

bool LoggingQProcess::hasChunkToSend() const
{
    return QProcess::bytesToWrite() > 0 || m_gathered.size() >= chunkBytes
           || (!m_gathered.isEmpty()
               && std::chrono::steady_clock::now() - m_gatheredSince >= longestGathering);
}
