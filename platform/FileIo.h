#pragma once
// Program files on disk: reading only regular files, never blocking on a FIFO or a
// device node, and replacing a file so that a failed save destroys nothing.

#include <QByteArray>
#include <QString>

// True when the path names an existing regular file (after following links).
bool RegularFileExists(const QString& path);
// True when the path names anything but a folder (after following links).
bool FileExists(const QString& path);

// A regular file opened for reading only.
class TReadOnlyFile {
public:
    TReadOnlyFile() = default;
    ~TReadOnlyFile();
    TReadOnlyFile(const TReadOnlyFile&) = delete;
    TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

    // False for a missing or unreadable path and for anything but a regular file.
    bool Open(const QString& path);
    bool IsOpen() const { return fd_ >= 0; }
    // Size in bytes, or -1 when it cannot be taken.
    qint64 Size() const;
    // Reads exactly `count` bytes from the start; false when fewer arrive.
    bool ReadExactly(void* buffer, qint64 count);
    // Errors while closing are of no interest to a reader.
    void Close();

private:
    int fd_ = -1;
};

// Writes `count` bytes as the whole new contents of `path`. Where the folder allows, a
// temporary file in it is written, flushed to disk and renamed over the target, so a
// failure leaves the target as it was and no temporary behind. Where the folder refuses
// (no permission to create or replace names in it) but the existing target may be
// written, the target is written in place and flushed; a failure then can leave it
// partly written. A target that exists but may not be written is refused, as an
// ordinary open for writing would refuse it. Temporaries that killed saves left in the
// folder are removed first; those of saves still running are not. (DocumentReplace of
// AtomicFile.h.)
bool ReplaceFileContents(const QString& path, const void* data, qint64 count);
