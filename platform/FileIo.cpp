#include "platform/FileIo.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

// Temporary files of a save: ".<target name>.vendrik-<random>.tmp" beside the target.
// While its save runs, the writer holds an exclusive flock on the file; a lock that can be
// taken therefore proves the writer gone (locks die with their process), and only then
// is a temporary removed. Another running copy's save in the same folder is never
// touched.
const QByteArray TempMarker = ".vendrik-";
const QByteArray TempSuffix = ".tmp";

bool IsTemporaryName(const QByteArray& name) {
    if (!name.startsWith('.') || !name.endsWith(TempSuffix))
        return false;
    const qsizetype marker = name.lastIndexOf(TempMarker);
    if (marker < 2)
        return false;
    const QByteArray random = name.mid(marker + TempMarker.size(), name.size() - TempSuffix.size() -
                                                                       marker - TempMarker.size());
    if (random.isEmpty() || random.size() > 13)
        return false;
    for (char c : random)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the temporaries of saves that were killed (SIGKILL, power cut) in `folder`.
void RemoveStaleTemporaries(const QByteArray& folder) {
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!IsTemporaryName(name))
            continue;
        const int fd = ::openat(dirFd, name.constData(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // Still the file that was locked: nobody can have put another under that name,
        // as names are created exclusively and a writer renames only to its target.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named))
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// A fresh, locked file beside the target; created with mode 0666 so the umask applies as
// it would to a newly created target. -1 with errno set when none can be made.
int CreateTemporaryBeside(const QByteArray& target, QByteArray& tempPath) {
    const QByteArray folder = FolderOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + name + TempMarker +
                   QByteArray::number(QRandomGenerator::global()->generate64(), 36) + TempSuffix;
        const int fd = ::open(tempPath.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // Where locks work at all, a sweeper may have locked and removed the new file in
        // the instant before this lock; then the name leads elsewhere and another is tried.
        if (::flock(fd, LOCK_EX) != 0)
            return fd; // no locks here: no sweeper can take it either
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::lstat(tempPath.constData(), &named) == 0 &&
            SameFile(opened, named))
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// The plain write for a folder that refuses new names while the file itself may be
// written: the new contents over the old from the start, cut to length, flushed. A
// failure can leave the file partly written, as any ordinary save would.
bool WriteInPlace(const QByteArray& target, const char* data, qint64 count) {
    const int fd = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Overwriting the blocks the file already has before cutting it, rather than
    // truncating first, keeps a full disk from failing an image of the same size.
    ok = ok && WriteAll(fd, data, count) && ::ftruncate(fd, off_t(count)) == 0;
    ok = ok && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool IsPermissionError(int error) {
    return error == EACCES || error == EPERM;
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
    const char* bytes = static_cast<const char*>(data);

    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && (!S_ISREG(existing.st_mode) || ::access(target.constData(), W_OK) != 0))
        return false;

    RemoveStaleTemporaries(FolderOf(target));

    QByteArray tempPath;
    const int fd = CreateTemporaryBeside(target, tempPath);
    if (fd < 0)
        return exists && IsPermissionError(errno) && WriteInPlace(target, bytes, count);

    bool ok = WriteAll(fd, bytes, count);
    if (ok && exists)
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd) == 0;
    // Renamed while still open, so the lock holds until the name is gone.
    int renameError = 0;
    if (ok && ::rename(tempPath.constData(), target.constData()) != 0) {
        renameError = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(tempPath.constData());
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        // A sticky folder lets us create files but not replace another user's.
        return exists && IsPermissionError(renameError) && WriteInPlace(target, bytes, count);
    }
    // Make the rename itself durable; the new contents are in place whatever this says.
    const int dir = ::open(FolderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
