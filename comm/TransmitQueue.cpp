#include "comm/TransmitQueue.h"

#include <chrono>
#include <cstring>

TTransmitQueue::TTransmitQueue(int Capacity) : data_(Capacity > 0 ? Capacity : 0, '\0') {}

bool TTransmitQueue::IsValid() const {
    return closing_.IsValid() && dataReady_.IsValid() && clearRequest_.IsValid() &&
           clearDone_.IsValid();
}

int TTransmitQueue::Size() const {
    std::lock_guard lock(lock_);
    return size_;
}

TPushOutcome TTransmitQueue::Push(const void* Data, int Count, int Limit, int TimeoutMs) {
    std::unique_lock lock(lock_);
    const int limit = qMin(Capacity(), Limit);
    const auto ready = [&] { return closed_ || qint64(size_) + Count <= limit; };
    if (!ready() && !room_.wait_for(lock, std::chrono::milliseconds(TimeoutMs), ready))
        return TPushOutcome::NoRoom;
    if (closed_)
        return TPushOutcome::Closed;
    if (Count > 0) {
        std::memcpy(data_.data() + size_, Data, size_t(Count));
        size_ += Count;
    }
    dataReady_.Set();
    return TPushOutcome::Queued;
}

TTransmitQueue::TTurn::~TTurn() {
    if (!lock_.owns_lock())
        return;
    lock_.unlock();
    if (consumed_)
        queue_->room_.notify_all();
}

bool TTransmitQueue::TTurn::Closed() const {
    return queue_->closed_;
}

bool TTransmitQueue::TTurn::Consume(int N) {
    TTransmitQueue& q = *queue_;
    if (N <= 0)
        return false;
    consumed_ = true;
    if (N < q.size_) {
        std::memmove(q.data_.data(), q.data_.constData() + N, size_t(q.size_ - N));
        q.size_ -= N;
        return false;
    }
    q.size_ = 0;
    q.dataReady_.Clear();
    return true;
}

TTransmitQueue::TTurn TTransmitQueue::Take() {
    TTurn turn(*this);
    if (size_ == 0)
        dataReady_.Clear();
    return turn;
}

TClearOutcome TTransmitQueue::Clear(bool CallerServesWriter, int AcknowledgeMs) {
    bool away = false;
    {
        // Ordered against WriterAway: either this sees the writer away or the writer,
        // going away, sees the request.
        std::lock_guard lock(lock_);
        clearRequest_.Set();
        away = writerAway_;
    }
    if (away && CallerServesWriter)
        AcknowledgeClear(); // on its behalf: it is away until this caller returns
    else if (clearDone_.Wait(AcknowledgeMs) != TWaitOutcome::Event)
        return TClearOutcome::NotAcknowledged;
    {
        std::lock_guard lock(lock_);
        size_ = 0;
        dataReady_.Clear();
    }
    room_.notify_all();
    return TClearOutcome::Cleared;
}

void TTransmitQueue::AcknowledgeClear() {
    clearRequest_.Clear();
    clearDone_.Set();
}

void TTransmitQueue::WriterAway(bool Away) {
    bool requested = false;
    {
        std::lock_guard lock(lock_);
        writerAway_ = Away;
        requested = Away && clearRequest_.IsSet();
    }
    if (requested)
        AcknowledgeClear();
}

void TTransmitQueue::Close() {
    closed_ = true;
    closing_.Set();
    {
        // A push deciding to wait holds the lock until it waits, so it is told below.
        std::lock_guard lock(lock_);
    }
    room_.notify_all();
}
