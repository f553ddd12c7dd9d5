#include "driver/ConversionLock.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process id written in the lock file; 0 when there is none (yet).
long lockHolder(int descriptor)
{
    char text[32] = {};
    const ssize_t length = pread(descriptor, text, sizeof text - 1, 0);
    if (length <= 0)
        return 0;
    char *end = nullptr;
    const long pid = strtol(text, &end, 10);
    return end != text && pid > 0 ? pid : 0;
}

// A run that has just created the file writes its id right after locking it.
long waitForLockHolder(int descriptor)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (const long pid = lockHolder(descriptor))
            return pid;
        usleep(10000);
    }
    return 0;
}

Failure systemFailure(const char *what, const QString &path)
{
    return Failure::fatal(QStringLiteral("Cannot %1 the lock file %2: %3")
                                  .arg(QLatin1String(what), path, QString::fromLocal8Bit(strerror(errno))));
}

Failure anotherRun(long pid, const QString &path)
{
    const QString holder = pid > 0 ? QStringLiteral("process %1").arg(pid) : QStringLiteral("another process");
    return Failure::fatal(QStringLiteral("Another conversion (%1) is running in this directory; it holds "
                                         "the lock file %2. Nothing was done.")
                                  .arg(holder, path));
}

// Whether descriptor is still the file at path: a run that ends removes its
// file, and a lock on a removed file keeps nobody out.
bool isFileAt(int descriptor, const QByteArray &path)
{
    struct stat opened = {};
    struct stat named = {};
    return fstat(descriptor, &opened) == 0 && stat(path.constData(), &named) == 0
            && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

Result<std::unique_ptr<ConversionLock>> ConversionLock::acquire(const QString &directory)
{
    const QString path = QDir(directory).absoluteFilePath(QLatin1String(fileName));
    const QByteArray localPath = QFile::encodeName(path);
    for (;;) {
        const int descriptor = open(localPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor < 0)
            return systemFailure("create", path);
        if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const int lockError = errno;
            const long pid = lockError == EWOULDBLOCK ? waitForLockHolder(descriptor) : 0;
            close(descriptor);
            errno = lockError;
            return lockError == EWOULDBLOCK ? anotherRun(pid, path) : systemFailure("lock", path);
        }
        if (!isFileAt(descriptor, localPath)) {
            close(descriptor);
            continue;
        }

        const long previous = lockHolder(descriptor);
        if (previous > 0 && previous != long(getpid()))
            qWarning().noquote() << "WARN: taking over the lock file" << path << "of process" << previous
                                 << "which no longer runs";
        const QByteArray pid = QByteArray::number(qint64(getpid())) + '\n';
        if (ftruncate(descriptor, 0) != 0 || pwrite(descriptor, pid.constData(), pid.size(), 0) != pid.size()) {
            const Failure failure = systemFailure("write", path);
            unlink(localPath.constData());
            close(descriptor);
            return failure;
        }
        return std::unique_ptr<ConversionLock>(new ConversionLock(descriptor, path));
    }
}

ConversionLock::~ConversionLock()
{
    // Removed while still locked: a run that opens the file now finds it
    // gone once it has the lock, and starts again with a new file.
    unlink(QFile::encodeName(m_path).constData());
    close(m_descriptor);
}
