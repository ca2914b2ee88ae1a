#pragma once
// Replacing a file's whole contents so that a failure or a kill leaves either the old
// contents or the new, never a mixture: a temporary beside the target is written in full,
// flushed, renamed over the target, and the folder is flushed. Every writer of whole files
// goes through here; what differs between them is the policy.

#include <QString>
#include <QtGlobal>

// How temporaries are named, and who removes the ones killed writers left behind.
enum class TTemporaryNaming {
    // ".<name>.vendrik-<random>.tmp", flock-ed by its writer for the whole save. Each
    // save first removes the ones whose lock it can take: locks die with their process,
    // so another copy's save still running is never touched.
    LockedBeside,
    // "<name>.tmp-XXXXXX" (six letters or digits). For callers that already serialise
    // their writers under a lock of their own: whatever such name is found while holding
    // that lock is a killed writer's, and the caller sweeps by RemoveStaleTemporaries.
    CallerLocked,
};

struct TReplacePolicy {
    TTemporaryNaming temporaries = TTemporaryNaming::LockedBeside;
    // Permission bits of the new contents; -1: those of the existing target, or for a new
    // one 0666 less the umask, as an ordinary save would give.
    int mode = -1;
    // Treats the target as an ordinary open for writing would: a link is written through
    // (the link survives), and an existing target that is not a regular file this process
    // may write is refused. Otherwise the name itself is replaced whatever it was.
    bool likeOrdinaryWrite = true;
    // Where the folder refuses the temporary or the rename (no right to create or replace
    // names in it) but the existing target may be written, write it in place and flush
    // it; a failure then can leave it partly written.
    bool inPlaceFallback = true;
};

// The policy of a document the user chose (Save As).
inline constexpr TReplacePolicy DocumentReplace{TTemporaryNaming::LockedBeside, -1, true, true};
// The policy of a private store kept in the program's own folder under its own lock.
inline constexpr TReplacePolicy PrivateStoreReplace{TTemporaryNaming::CallerLocked, 0600, false,
                                                    false};

// One version of a file's contents as the file system tells them apart: a replace gives
// another inode, a write in place another modification time or size.
struct TFileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const TFileStamp&) const = default;
};

// Writes `count` bytes as the whole new contents of `path`; true once they are on disk.
// `written`, when given, receives the stamp of the new contents (left as it is when
// they went in place).
bool ReplaceAtomically(const QString& path, const void* data, qint64 count,
                       const TReplacePolicy& policy, TFileStamp* written = nullptr);

// The stamp of an open file; false when it cannot be taken.
bool FileStampOf(int fd, TFileStamp* stamp);

// Removes the temporaries of `path`'s writers that were killed (see TTemporaryNaming).
// ReplaceAtomically does this itself for LockedBeside; CallerLocked callers call it while
// they hold their lock.
void RemoveStaleTemporaries(const QString& path, TTemporaryNaming naming);

// write(2) until all `count` bytes are written; false on an error or a write of nothing.
bool WriteFully(int fd, const char* data, qint64 count);
