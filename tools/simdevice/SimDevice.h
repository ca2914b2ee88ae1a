#pragma once
// A simulated Мелдор-2 on a pseudo-terminal, run by its own thread.
//
// The simulator holds the master side and keeps the slave open itself, so the line
// survives the program closing and reopening its port. It stays "off" (ignoring every
// byte) until it is switched on, then sends its announcement and answers frames:
//   write frame  "W", sector (16 bits, low byte first), 256 data bytes, checksum -> "!"
//   read request "R", sector (16 bits, low byte first), checksum -> 260-byte reply
//                ("D", sector low, sector high, 256 data bytes, checksum)
// A frame is valid when its bytes sum to 0 modulo 256; invalid frames get no answer.
//
// Switching on: in OnOpen mode the device is power-cycled with the port: every opening
// of the slave by another party (seen through inotify, so nothing is polled) switches it
// on `switchOnDelayMs` later, and the last close switches it off again. The delay lets
// the program finish its own set-up (which discards anything received before it).
// AfterDelay switches on once, that long after start; Manual waits for SwitchOn().

#include "tools/simdevice/SimFaults.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace sim {

constexpr int SectorBytes = 256;
constexpr int FrameBytes = 260;
constexpr int RequestBytes = 4;
constexpr int MemorySectors = 512;
constexpr int MemoryBytes = MemorySectors * SectorBytes;

enum class SwitchOn { OnOpen, AfterDelay, Manual };

struct SimConfig {
    QByteArray announcement = "!";
    SwitchOn switchOn = SwitchOn::OnOpen;
    int switchOnDelayMs = 200;
    FaultPlan faults;
    // One line per event, already time-stamped; called on the simulator's thread.
    std::function<void(const QByteArray& line)> log;
};

struct SimStats {
    int opens = 0;          // openings of the port seen
    int announcements = 0;  // times the device switched on and announced itself
    int writeFrames = 0;    // valid write frames taken
    int readRequests = 0;   // valid read requests taken
    int checksumErrors = 0; // frames refused for their checksum
    int strayBytes = 0;     // bytes that started no frame, or arrived while off
    int faults = 0;         // faults committed
    bool hungUp = false;
};

// Sum of the bytes modulo 256, as the device checks it.
quint8 ByteSum(const QByteArray& bytes);

class SimDevice {
public:
    explicit SimDevice(SimConfig config = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Opens the pseudo-terminal and starts the thread.
    bool Start(QString* error = nullptr);
    // Stops the thread and releases the pseudo-terminal; idempotent.
    void Stop();
    QString SlavePath() const { return slavePath_; }

    void SwitchOn();
    void HangUp();
    // Sends bytes at once, answering nothing, as a device's stray output would come (a
    // test's way to leave bytes between two exchanges). Thread-safe.
    void SendUnasked(const QByteArray& bytes);

    // The device's flash: 512 sectors, 0xFF when erased. Thread-safe.
    QByteArray Memory() const;
    void SetMemory(const QByteArray& bytes); // shorter contents are padded with 0xFF
    bool LoadMemory(const QString& path, QString* error = nullptr);
    bool DumpMemory(const QString& path, QString* error = nullptr) const;

    SimStats Stats() const;
    // Every valid write frame taken, in order of arrival.
    QList<QByteArray> WriteFrames() const;
    // Every valid read request taken, in order of arrival.
    QList<QByteArray> ReadRequests() const;

private:
    struct Pending;
    void Run();
    void OnOpened();
    void OnClosed();
    void TakeInput(const QByteArray& bytes);
    void ParseFrames();
    void AnswerWrite(const QByteArray& frame, int sector);
    void AnswerRead(const QByteArray& request, int sector);
    void Send(QByteArray bytes, int delayMs);
    void FlushOut();
    void DoHangUp();
    void LogLine(const QString& text);
    void Wake();
    qint64 NowMs() const;

    SimConfig config_;
    int master_ = -1;
    int slave_ = -1;
    int wakeFd_ = -1;
    int inotifyFd_ = -1;
    QString slavePath_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> switchOnRequested_{false};
    std::atomic<bool> hangUpRequested_{false};

    // Thread-owned state.
    bool on_ = false;
    int openCount_ = 0;
    qint64 switchOnAt_ = -1;
    QByteArray input_;
    qint64 lastInputAt_ = 0;
    std::unique_ptr<std::vector<Pending>> pending_;
    QByteArray out_;
    qint64 startMs_ = 0;

    // Shared with other threads.
    mutable std::mutex mutex_;
    QByteArray memory_;
    SimStats stats_;
    QList<QByteArray> writeFrames_;
    QList<QByteArray> readRequests_;
    QByteArray unasked_;
};

// Points the program's COMn (in its per-user folder) at `target`, replacing an older link.
bool LinkComPort(int n, const QString& target, QString* error = nullptr);

} // namespace sim
