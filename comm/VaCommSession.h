#pragma once
// What one opening of a port shares with its threads: the device, the wake-up events,
// the transmit queue and the stopped flag. Threads hold the session, never the port, so
// the descriptor number stays reserved (never reused) until the last holder lets go,
// while Close makes the port forget the session at once. Close also lets the device go
// at once: the number then refers to /dev/null until the last holder closes it.

#include "comm/TransmitQueue.h"
#include "comm/VaSync.h"
#include "comm/VaTypes.h"
#include "platform/EventFd.h"
#include "platform/SerialDevice.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class TVaCustomComm;
class TVaCallDispatcher;

struct TVaCommSession : std::enable_shared_from_this<TVaCommSession> {
    // QueueCapacity 0: no write thread, writes go to the device directly.
    explicit TVaCommSession(int QueueCapacity = 0) : Queue(QueueCapacity) {}

    TSerialDevice Device;
    std::atomic<bool> Stopped{false};
    // Fixed before the port publishes the session.
    bool DirectWrite = false;
    int BaseNice = 0; // the threads' normal priority: that of the thread that opened
    // Orders a thread's taking its first priority against a change of the property, so
    // the last value set is the one that stays.
    std::mutex PriorityLock;

    // False when one of the wake-up events could not be made (the descriptor limit):
    // such a session is never published.
    bool EventsReady() const;

    // User-interface thread only: the port this opening belongs to, cleared by Close.
    TVaCustomComm* Port = nullptr;
    // Receiver of the threads' cross-thread calls; lives on the user-interface thread.
    TVaCallDispatcher* Context = nullptr;
    TSerialDevice::Counters StatusBaseline; // line errors since GetLineStatus last ran

    // Event thread.
    quint32 EventMask = 0;
    TVaWaitEvent WaitSignal;
    std::atomic<int> EventTid{0};
    std::atomic<int> EventPriority{0};  // relative priority, -15 .. 15
    std::atomic<quint64> RxConsumed{0}; // bytes the port has read
    std::atomic<quint32> RxPurges{0};   // purges of the input queue

    // Write thread.
    bool HasWriteThread = false; // fixed before the session is published
    // Also gives direct writes their turns; closed by Stop.
    TTransmitQueue Queue;
    std::atomic<int> WriteTid{0};
    std::atomic<int> WritePriority{0}; // relative priority, -15 .. 15

    // Marks the session stopped and wakes both threads and any waiting call, including a
    // write waiting for room in the queue; returns once no write is in progress.
    void Stop();

    // Runs Fn on the user-interface thread and blocks until it has run there or the
    // session is stopped. Fn is skipped if the session is stopped by the time it would
    // run. Returns what escaped Fn.
    std::exception_ptr CallOnUiThread(std::function<void()> Fn);

private:
    std::mutex callMutex_;
    std::condition_variable callDone_;
};

// Runs the threads' calls on the user-interface thread. The threads queue a call under a
// lock and set a wake-up descriptor that the user-interface thread watches, so no memory
// passes between threads inside the toolkit's event queue. Created on the user-interface
// thread on first use and kept for the life of the process, so a thread can always
// reach it.
class TVaCallDispatcher : public QObject {
    Q_OBJECT
public:
    // Null while its wake-up descriptor cannot be made; a later call tries again.
    static TVaCallDispatcher* Instance();
    // Any thread: a call is waiting.
    void Wake() { wake_.Set(); }

private:
    TVaCallDispatcher();
    // Runs one waiting call; more wait: the descriptor stays set, so nested event loops
    // serve them too.
    void RunOne();
    TEventFd wake_;
};
