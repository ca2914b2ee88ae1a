#pragma once
// The transmit queue of an open port: the bytes callers handed over, waiting for the
// write thread, oldest first. It owns its lock, the condition a caller waits on for
// room, the data-ready event the write thread waits on, and the handshake by which a
// purge empties it. Its rules:
// - a block appended while the write thread finds the queue empty is still sent: the
//   thread clears data-ready under the lock, and every push sets it under the lock;
// - it never holds more than it was built for, whatever limit a caller asks for;
// - the write thread reads and trims it in one turn, so a purge never falls between;
//   a purge empties it only once the thread has acknowledged a purge, or while the
//   thread waits for the purging thread itself (then it holds no turn and can take none);
// - once closed, no push gets in, a push waiting for room returns at once, and no one
//   holding the queue's turn writes the device again.

#include "platform/EventFd.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <mutex>

enum class TClearOutcome {
    Cleared,
    NotAcknowledged, // the write thread did not answer in time: the queue is as it was
};

enum class TPushOutcome {
    Queued,
    Closed, // closed before or while waiting for room
    NoRoom, // no room came within the time limit
};

class TTransmitQueue {
public:
    // How long the first purge waits for the write thread's acknowledgement.
    static constexpr int ClearAcknowledgeMs = 2000;

    explicit TTransmitQueue(int Capacity = 0);
    TTransmitQueue(const TTransmitQueue&) = delete;
    TTransmitQueue& operator=(const TTransmitQueue&) = delete;

    // False when one of its events could not be made (the descriptor limit).
    bool IsValid() const;
    int Capacity() const { return int(data_.size()); }
    int Size() const;

    // Any thread: appends Count bytes once they fit within Limit (and the capacity),
    // waiting at most TimeoutMs for room.
    TPushOutcome Push(const void* Data, int Count, int Limit, int TimeoutMs);

    // The queue's lock, held while this lives; releasing it after a Consume tells
    // callers waiting for room.
    class TTurn {
    public:
        TTurn(TTurn&& Other) noexcept = default;
        ~TTurn();
        bool Closed() const;
        const char* Data() const { return queue_->data_.constData(); }
        int Size() const { return queue_->size_; }
        // Removes the N oldest bytes (more than are queued: all); true when that emptied
        // the queue, which then is no longer data-ready.
        bool Consume(int N);

    private:
        friend class TTransmitQueue;
        explicit TTurn(TTransmitQueue& Queue) : queue_(&Queue), lock_(Queue.lock_) {}
        TTransmitQueue* queue_;
        std::unique_lock<std::mutex> lock_;
        bool consumed_ = false;
    };
    // Write thread: the queued bytes; an empty queue is no longer data-ready.
    TTurn Take();
    // A write that bypasses the queue: writers take turns with each other and with Close.
    TTurn Hold() { return TTurn(*this); }

    // Set while bytes wait; the write thread waits on it.
    const TEventFd* DataReady() const { return &dataReady_; }

    // Purging. Requests an acknowledgement from the write thread and empties the queue
    // once it came within AcknowledgeMs; the first acknowledgement stays valid for every
    // later purge. CallerServesWriter: the caller is the thread the write thread's
    // notifications wait for; while the write thread waits for it (WriterAway), it
    // cannot answer, and need not, holding no turn.
    TClearOutcome Clear(bool CallerServesWriter, int AcknowledgeMs = ClearAcknowledgeMs);
    // Set while a purge waits for the write thread, which then calls AcknowledgeClear
    // from where it holds no turn.
    const TEventFd* ClearRequest() const { return &clearRequest_; }
    void AcknowledgeClear();
    // Write thread, holding no turn: it begins (true) or ended (false) a wait for the
    // thread that serves its notifications. Going away it answers a purge waiting.
    void WriterAway(bool Away);

    // Refuses every later push, sets Closing and wakes the pushes waiting for room;
    // returns once the current turn has ended.
    void Close();
    // Set once Close began: wakes the write thread, and a turn waiting for the device,
    // which then sees Closed and ends.
    const TEventFd* Closing() const { return &closing_; }

private:
    mutable std::mutex lock_;
    std::condition_variable room_;
    QByteArray data_; // never resized: the capacity
    int size_ = 0;
    // Set before the lock is taken, so a turn in progress sees it and ends.
    std::atomic<bool> closed_{false};
    bool writerAway_ = false; // under lock_
    TEventFd closing_, dataReady_, clearRequest_, clearDone_;
};
