#pragma once
// What the fault matrix needs beyond the windows and the simulated device: which of this
// process's descriptors refer to a terminal, file-permission checks that hold for root
// too, a second process holding a port, and child copies of the program.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <sys/types.h>

namespace faults {

// Descriptor numbers of this process whose target starts with `path` ("/dev/pts/7",
// also "/dev/pts/7 (deleted)" once the far end has gone).
QList<int> DescriptorsOn(const QString& path);

// For its lifetime the calling thread is subject to file permissions even when it runs
// as root: the capabilities that override them are dropped from the thread's effective
// set (the permitted set is kept, so they come back at the end). Only the calling thread
// is affected, and the program opens ports and files on its user-interface thread.
class PermissionChecksOn {
public:
    PermissionChecksOn();
    ~PermissionChecksOn();
    PermissionChecksOn(const PermissionChecksOn&) = delete;
    PermissionChecksOn& operator=(const PermissionChecksOn&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = true;
    bool dropped_ = false;
    quint32 effective_[2] = {};
};

// Another process that opens `path` and holds an exclusive lock on it until released.
class PortHolder {
public:
    explicit PortHolder(const QString& path);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};

// A copy of this test program started with `--child-<mode> args...`. Its standard
// output is a line protocol: "ready", "box<TAB>text<TAB>caption", "done".
class ChildCopy {
public:
    // `limitFileSize` > 0: started with RLIMIT_FSIZE at that many bytes and SIGXFSZ
    // ignored, so a write past it fails with EFBIG as on a full disk.
    ChildCopy(const QString& mode, const QStringList& args, qint64 limitFileSize = 0);
    ~ChildCopy();
    // Waits for the line `line`; false on the deadline or when the child ended first.
    bool waitForLine(const QByteArray& line, int ms);
    void send(const QByteArray& bytes);
    void kill();
    // Waits for the end; false on the deadline (the child is then killed).
    bool finish(int ms);
    bool exitedNormally() const;
    int exitCode() const { return process_.exitCode(); }
    QStringList boxes() const; // texts of the boxes the child showed
    QByteArray output() const { return output_; }

private:
    void take();
    QProcess process_;
    QByteArray output_;
};

// Child side of ChildCopy: the line protocol on standard output.
void ChildSay(const QByteArray& line);
// Makes every message box of the child a "box" line, dismissed at once.
void ChildRecordBoxes();

} // namespace faults
