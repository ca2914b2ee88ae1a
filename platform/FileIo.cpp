#include "platform/FileIo.h"

#include "platform/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

void CloseQuietly(int fd) {
    if (fd >= 0)
        ::close(fd);
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
    return ReplaceAtomically(path, data, count, DocumentReplace);
}
