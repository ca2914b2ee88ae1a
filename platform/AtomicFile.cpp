#include "platform/AtomicFile.h"

#include <QFile>
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

QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return path.left(slash);
}

QByteArray NameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// The file an ordinary open would write: an existing link is followed.
QByteArray ResolvedTarget(const QByteArray& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.constData(), resolved))
        return QByteArray(resolved);
    return path;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsAsciiAlnum(char c, bool upperToo) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (upperToo && c >= 'A' && c <= 'Z');
}

const QByteArray LockedMarker = ".vendrik-";
const QByteArray LockedSuffix = ".tmp";
const QByteArray CallerLockedMarker = ".tmp-";
constexpr qsizetype CallerLockedRandom = 6; // mkostemp's XXXXXX

// ".<any name>.vendrik-<1..13 of [0-9a-z]>.tmp": a 64-bit number in base 36.
bool IsLockedTemporaryName(const QByteArray& name) {
    if (!name.startsWith('.') || !name.endsWith(LockedSuffix))
        return false;
    const qsizetype marker = name.lastIndexOf(LockedMarker);
    if (marker < 2)
        return false;
    const qsizetype start = marker + LockedMarker.size();
    const QByteArray random = name.mid(start, name.size() - LockedSuffix.size() - start);
    if (random.isEmpty() || random.size() > 13)
        return false;
    for (char c : random)
        if (!IsAsciiAlnum(c, false))
            return false;
    return true;
}

bool IsCallerLockedTemporaryName(const QByteArray& name, const QByteArray& target) {
    const QByteArray prefix = target + CallerLockedMarker;
    if (!name.startsWith(prefix) || name.size() != prefix.size() + CallerLockedRandom)
        return false;
    for (char c : name.mid(prefix.size()))
        if (!IsAsciiAlnum(c, true))
            return false;
    return true;
}

// Calls `visit(dirFd, name)` for every entry of `folder`.
template <typename Visit> void ForEachEntry(const QByteArray& folder, Visit visit) {
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        visit(dirFd, QByteArray(entry->d_name));
    }
    ::closedir(dir);
}

void RemoveStaleLocked(const QByteArray& folder) {
    ForEachEntry(folder, [](int dirFd, const QByteArray& name) {
        if (!IsLockedTemporaryName(name))
            return;
        const int fd = ::openat(dirFd, name.constData(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat opened {};
        struct stat named {};
        // Still the file that was locked: nobody can have put another under that name,
        // as names are created exclusively and a writer renames only to its target. The
        // lock is held until the name is gone.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named))
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    });
}

void RemoveStaleCallerLocked(const QByteArray& target) {
    const QByteArray name = NameOf(target);
    ForEachEntry(FolderOf(target), [&](int dirFd, const QByteArray& entry) {
        struct stat st {};
        if (IsCallerLockedTemporaryName(entry, name) &&
            ::fstatat(dirFd, entry.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(st.st_mode))
            ::unlinkat(dirFd, entry.constData(), 0);
    });
}

// A fresh, locked file beside the target; created with mode 0666 so the umask applies as
// it would to a newly created target. -1 with errno set when none can be made.
int CreateLockedTemporary(const QByteArray& target, QByteArray& tempPath) {
    const QByteArray prefix = FolderOf(target) + "/." + NameOf(target) + LockedMarker;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
                   LockedSuffix;
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

int CreateTemporary(const QByteArray& target, TTemporaryNaming naming, QByteArray& tempPath) {
    if (naming == TTemporaryNaming::LockedBeside)
        return CreateLockedTemporary(target, tempPath);
    tempPath = target + CallerLockedMarker + QByteArray(CallerLockedRandom, 'X');
    return ::mkostemp(tempPath.data(), O_CLOEXEC);
}

// The plain write for a folder that refuses new names while the file itself may be
// written: the new contents over the old from the start, cut to length, flushed.
bool WriteInPlace(const QByteArray& target, const char* data, qint64 count) {
    const int fd = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Overwriting the blocks the file already has before cutting it, rather than
    // truncating first, keeps a full disk from failing contents of the same size.
    ok = ok && WriteFully(fd, data, count) && ::ftruncate(fd, off_t(count)) == 0;
    ok = ok && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool IsPermissionError(int error) {
    return error == EACCES || error == EPERM;
}

} // namespace

bool WriteFully(int fd, const char* data, qint64 count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, size_t(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        count -= n;
    }
    return true;
}

void RemoveStaleTemporaries(const QString& path, TTemporaryNaming naming) {
    const QByteArray target = QFile::encodeName(path);
    if (naming == TTemporaryNaming::LockedBeside)
        RemoveStaleLocked(FolderOf(target));
    else
        RemoveStaleCallerLocked(target);
}

bool FileStampOf(int fd, TFileStamp* stamp) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    stamp->device = st.st_dev;
    stamp->inode = st.st_ino;
    stamp->size = st.st_size;
    stamp->modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool ReplaceAtomically(const QString& path, const void* data, qint64 count,
                       const TReplacePolicy& policy, TFileStamp* written) {
    if (path.isEmpty() || count < 0 || (count > 0 && !data))
        return false;
    const QByteArray named = QFile::encodeName(path);
    const QByteArray target = policy.likeOrdinaryWrite ? ResolvedTarget(named) : named;
    const char* bytes = static_cast<const char*>(data);

    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (policy.likeOrdinaryWrite && exists &&
        (!S_ISREG(existing.st_mode) || ::access(target.constData(), W_OK) != 0))
        return false;
    const auto fallBack = [&](int error) {
        // A read-only folder refuses the temporary; a sticky one lets us create files but
        // not replace another user's.
        return policy.inPlaceFallback && exists && IsPermissionError(error) &&
               WriteInPlace(target, bytes, count);
    };

    if (policy.temporaries == TTemporaryNaming::LockedBeside)
        RemoveStaleLocked(FolderOf(target));

    QByteArray tempPath;
    const int fd = CreateTemporary(target, policy.temporaries, tempPath);
    if (fd < 0)
        return fallBack(errno);

    bool ok = WriteFully(fd, bytes, count);
    if (ok && policy.mode >= 0)
        ok = ::fchmod(fd, mode_t(policy.mode)) == 0;
    else if (ok && exists)
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd) == 0;
    // Renamed while still open, so a temporary's lock holds until its name is gone.
    int renameError = 0;
    if (ok && ::rename(tempPath.constData(), target.constData()) != 0) {
        renameError = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(tempPath.constData());
    if (ok && written && !FileStampOf(fd, written))
        *written = TFileStamp{};
    ok = (::close(fd) == 0) && ok;
    if (!ok)
        return fallBack(renameError);
    // Make the rename itself durable; the new contents are in place whatever this says.
    const int dir = ::open(FolderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
