#include "platform/FileIo.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray NativePath(const QString& path) {
    return path.toLocal8Bit();
}

void CloseQuietly(int fd) {
    if (fd >= 0)
        ::close(fd);
}

bool WriteAll(int fd, const char* data, qint64 count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, size_t(count));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        count -= n;
    }
    return true;
}

// The file a save really writes: an existing link is followed, as an ordinary open
// would follow it, so the link itself survives.
QByteArray SaveTarget(const QByteArray& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.constData(), resolved))
        return QByteArray(resolved);
    return path;
}

QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return path.left(slash);
}

// A fresh file beside the target; created with mode 0666 so the umask applies as it
// would to a newly created target.
int CreateTemporaryBeside(const QByteArray& target, QByteArray& tempPath) {
    const QByteArray folder = FolderOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + name + "." +
                   QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        const int fd = ::open(tempPath.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool RegularFileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(NativePath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(NativePath(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TReadOnlyFile::~TReadOnlyFile() {
    Close();
}

bool TReadOnlyFile::Open(const QString& path) {
    Close();
    if (!RegularFileExists(path))
        return false;
    // O_NONBLOCK: should the path have turned into a FIFO since the check, opening it
    // must not wait for a writer.
    const int fd = ::open(NativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        CloseQuietly(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

qint64 TReadOnlyFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return qint64(st.st_size);
}

bool TReadOnlyFile::ReadExactly(void* buffer, qint64 count) {
    if (fd_ < 0 || count < 0)
        return false;
    char* out = static_cast<char*>(buffer);
    qint64 offset = 0;
    while (offset < count) {
        const ssize_t n = ::pread(fd_, out + offset, size_t(count - offset), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false; // the file shrank under us
        offset += n;
    }
    return true;
}

void TReadOnlyFile::Close() {
    CloseQuietly(fd_);
    fd_ = -1;
}

bool ReplaceFileContents(const QString& path, const void* data, qint64 count) {
    if (path.isEmpty() || count < 0)
        return false;
    const QByteArray target = SaveTarget(NativePath(path));

    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && (!S_ISREG(existing.st_mode) || ::access(target.constData(), W_OK) != 0))
        return false;

    QByteArray tempPath;
    const int fd = CreateTemporaryBeside(target, tempPath);
    if (fd < 0)
        return false;

    bool ok = WriteAll(fd, static_cast<const char*>(data), count);
    if (ok && exists)
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempPath.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(tempPath.constData());
        return false;
    }
    // Make the rename itself durable; the new contents are in place whatever this says.
    const int dir = ::open(FolderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
