#pragma once
// Helpers shared by the tests, over Qt Core alone: recording message boxes,
// pseudo-terminal pairs, a private settings folder, child processes and whole files.
// Window tests find theirs in ModalDriver.h and WindowManager.h.

#include "base/MessageBox.h"
#include "platform/ExitCodeHelp.h"
#include "programmer/Notice.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

struct RecordedBox {
    QString text;
    QString caption;
    TMessageIcon icon;
};

class MessageRecorder;

// Compares a box with the expected text, caption and icon, failing at the caller's line
// with QCOMPARE's message. Use the macros below.
bool CompareBox(const MessageRecorder& recorder, qsizetype index, qsizetype count,
                const QString& text, const QString& caption, TMessageIcon icon, const char* file,
                int line);

// Exactly one box was shown, with this text, caption and icon.
#define QCOMPARE_ONE_BOX(recorder, text, caption, icon)                                            \
    do {                                                                                           \
        if (!CompareBox((recorder), 0, 1, (text), (caption), (icon), __FILE__, __LINE__))          \
            return;                                                                                \
    } while (false)

// The index-th of the boxes shown (at least index + 1 of them), with this text, caption
// and icon.
#define QCOMPARE_BOX(recorder, index, text, caption, icon)                                         \
    do {                                                                                           \
        if (!CompareBox((recorder), (index), -1, (text), (caption), (icon), __FILE__, __LINE__))   \
            return;                                                                                \
    } while (false)

// Replaces the application's message box for its lifetime; every box is recorded and
// dismissed at once.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    QList<RecordedBox> boxes;
    // Called for each box after it is recorded (for example to act while "inside" it).
    std::function<void(const RecordedBox&)> onBox;

private:
    MessageBoxHandler previous_;
};

// Shows a notice of device programming as the program's message box, so that a
// MessageRecorder records it as the windows would show it.
void ShowNoticeAsBox(const TNotice& Notice);

// A notice view that shows every notice as a message box.
struct TBoxNotices : TNoticeView {
    void ShowNotice(const TNotice& Notice) override { ShowNoticeAsBox(Notice); }
};
inline TBoxNotices& BoxNotices() {
    static TBoxNotices view;
    return view;
}

// A pseudo-terminal: the program opens `slavePath`, the test drives `master`.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    bool ok() const { return master >= 0; }
    int master = -1;
    int slave = -1; // kept open so the line survives the program closing its side
    QString slavePath;
    void closeSlave();
    void closeMaster();
    // Writes all bytes to the master side.
    bool send(const QByteArray& bytes);
    // Reads from the master side until `count` bytes arrived or `timeoutMs` passed.
    QByteArray receive(int count, int timeoutMs);
    // Everything readable within `timeoutMs` of quiet.
    QByteArray drain(int quietMs);
};

// Points XDG_CONFIG_HOME at a private temporary folder for its lifetime.
class TempConfigHome {
public:
    TempConfigHome();
    ~TempConfigHome();
    QString path() const { return dir_.path(); }
    // The program's folder inside it ("<path>/vendrik").
    QString vendrikDir() const;
    // Makes COMn resolve to `target` (creates the dosdevices link).
    bool linkComPort(int n, const QString& target) const;

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Runs `body` in a forked child bound by permission bits. Run as root (as CI is), the
// child gives up root for the unprivileged UnprivilegedUid first, since root writes
// wherever it likes; otherwise it keeps the caller's user. Returns body's result, or -1
// when the child died or could not give up root. Everything the child must reach has to
// be open to that user.
constexpr unsigned UnprivilegedUid = 65534;
int RunUnprivileged(const std::function<int()>& body);
// True when RunUnprivileged drops to UnprivilegedUid.
bool RunsAsRoot();

// A terminal as another program holding it sees it: its output speed (a B* constant of
// <termios.h>) and whether it is exclusive (TIOCEXCL, which belongs to the terminal).
struct TLineState {
    bool valid = false;
    unsigned speed = 0;
    bool exclusive = false;
    bool operator==(const TLineState&) const = default;
};
TLineState LineStateOf(int Fd);
// How QCOMPARE shows it.
inline char* toString(const TLineState& State) {
    return qstrdup(QByteArray(State.valid ? "speed " + QByteArray::number(State.speed, 8) +
                                                (State.exclusive ? ", exclusive" : ", shared")
                                          : QByteArray("unreadable"))
                       .constData());
}

// Another program's hold on a terminal: its own descriptor, raw at Speed (B*), made
// exclusive when asked. Closing clears what it set.
class TForeignHolder {
public:
    TForeignHolder(const QString& Path, unsigned Speed, bool Exclusive);
    ~TForeignHolder();
    TForeignHolder(const TForeignHolder&) = delete;
    TForeignHolder& operator=(const TForeignHolder&) = delete;
    bool ok() const { return fd >= 0; }
    TLineState state() const { return LineStateOf(fd); }
    int fd = -1;
};

// 0 when an unprivileged user (see RunUnprivileged) can open the terminal at Path now,
// else the errno of the refusal (EBUSY while it is exclusive), -1 when the child failed.
// Opens Path's permission bits to everyone first: root's terminals are its own.
int UnprivilegedOpenError(const QString& Path);

// Runs Program with Args and the extra environment entries ("NAME=value") added, and
// collects its standard output and error in Output. Returns its exit code, or -1 when it
// was killed, could not start or outlived TimeoutMs. Uses fork and exec, not QProcess:
// QProcess starts children with a clone that ThreadSanitizer does not follow, after
// which it reports races on data the process only touches under a lock.
int RunChildProcess(const QString& Program, const QStringList& Args,
                    const QList<QByteArray>& ExtraEnv, QByteArray& Output, int TimeoutMs = 60000);

// Whole-file helpers for tests that check what ended up on disk. A missing file reads as
// empty; writing replaces the file and creates the folders it lies in.
QByteArray NativePath(const QString& path);
QByteArray ReadWholeFile(const QString& path);
bool WriteWholeFile(const QString& path, const QByteArray& bytes);
// The same for the settings store (user.reg below the current XDG_CONFIG_HOME).
QByteArray ReadStoreFile();
bool WriteStoreFile(const QByteArray& bytes);
// Every name in a folder, hidden and special files included, sorted.
QStringList FolderEntries(const QString& dir);

// The exit codes a manual page's "СТАТУС ВЫХОДА" section lists, and those of a --help
// text's "Коды завершения:" part, each as "<code> <meaning>" with the roff markup and the
// line breaks taken out, so that they compare with a program's table (ExitCodeMeanings).
QStringList ManPageExitCodes(const QString& manPage);
QStringList HelpExitCodes(const QString& helpText);
QStringList ExitCodeLines(const TExitCodeMeanings& codes);

// Settings files that once took the machine's memory. `lines` key lines, each `depth`
// levels deep and apart from the first level on (7607 x 250: 4 MB); short keys of the
// program's key, or values of its main window's key, up to `bytes`.
QByteArray DeepKeysStore(int lines, int depth);
QByteArray ManyKeysStore(qsizetype bytes);
QByteArray ManyValuesStore(qsizetype bytes);

// Runs `body` in a forked child and gives how far its resident size rose above what it
// was when `body` began (the peak from /proc/self/status, VmHWM, reset first), in bytes,
// or -1 when that could not be measured. `body`'s result comes back in `result`.
qint64 PeakGrowthInChild(const std::function<qint64()>& body, qint64* result);
