#pragma once
// A program started with fork and exec, its standard output and error read through two
// pipes. Not QProcess: its clone-based start leaves ThreadSanitizer blind to the
// parent's locking afterwards (tests/tsan/qprocess_child.cpp).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

// The argument vector for exec: Program, then Args, then a null pointer. The strings live
// in Storage, which must outlast the vector; made before a fork, as nothing may be
// allocated between the fork and the exec.
std::vector<char*> ExecArguments(const QString& Program, const QStringList& Args,
                                 QList<QByteArray>& Storage);

// How a child is tied to the process that starts it.
struct TChildOptions {
    // Linux: the child gets SIGTERM when the thread that started it ends (for a program's
    // main thread, when the program ends, however it ends).
    bool endWithParent = true;
    // -1: stays in our process group; 0: leads a new one; above 0: joins that group.
    int processGroup = -1;
};

class TChildProcess {
public:
    TChildProcess() = default;
    // A child still running is killed and reaped: none outlives its owner.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts Program with Args, standard input from /dev/null; the environment is ours.
    bool Start(const QString& Program, const QStringList& Args, const TChildOptions& Options = {});
    bool Running() const { return pid_ > 0 && !exited_; }
    int Pid() const { return pid_; }
    // The child's process group once started with a group of its own or another's, else -1.
    int ProcessGroup() const { return group_; }

    int OutputDescriptor() const { return out_; }
    int ErrorDescriptor() const { return err_; }
    // Appends what waits on the pipes without blocking; false once both are at their end.
    bool ReadAvailable();
    QByteArray Output;
    QByteArray Error;

    // Any signal, to a child not yet reaped (its number cannot have gone to another).
    void Signal(int Number);
    // Ctrl+C and SIGTERM, as an operator or a service manager sends them.
    void Interrupt();
    void Terminate();
    // Wakes a stopped child, so that a stop request waiting for it can be acted upon.
    void Continue();
    void Kill();
    // Waits at most Ms milliseconds (-1: for ever) for the child to end, reading its
    // pipes meanwhile. True once it has ended and been reaped.
    bool WaitForExit(int Ms);
    // Valid after WaitForExit returned true: the exit code, or -1 when a signal ended it.
    int ExitCode() const { return exitCode_; }
    int TermSignal() const { return termSignal_; }

private:
    bool Reap(bool Block);
    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    int termSignal_ = 0;
    int group_ = -1;
};
