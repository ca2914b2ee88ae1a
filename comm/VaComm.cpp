#include "comm/VaComm.h"

#include "base/ErrorReport.h"
#include "comm/VaCommSession.h"
#include "comm/VaCommTesting.h"
#include "comm/VaCommThreads.h"
#include "platform/ErrorText.h"
#include "platform/SerialNames.h"
#include "platform/ThreadPriority.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace {
const QString ErrPortOpen = QStringLiteral("Can't perform this operation while port is open");
std::atomic<int> closePauseMs{300};

quint32 BaudrateOf(TVaBaudrate rate) {
    static constexpr quint32 rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return int(rate) < 16 ? rates[int(rate)] : 0;
}
} // namespace

quint32 VaComm::BaudrateValue(TVaBaudrate rate) {
    return BaudrateOf(rate);
}

namespace VaCommTesting {
void SetClosePause(int Ms) {
    closePauseMs = Ms;
}
int ClosePause() {
    return closePauseMs;
}
int LiveThreads() {
    return VaCommLiveThreadCounter();
}
} // namespace VaCommTesting

TVaCustomComm::TVaCustomComm(QObject* Owner) : TVaComponent(Owner) {
    buffers_.ChangeHandler = [this] { BuffersChanged(); };
    eventChars_.ChangeHandler = [this] { ApplyDCB(); };
    flowControl_.ChangeHandler = [this] { ApplyDCB(); };
}

TVaCustomComm::~TVaCustomComm() {
    destroying_ = true;
    try {
        Close();
    } catch (...) {
    }
    for (qsizetype i = links_.size() - 1; i >= 0; --i)
        links_[i]->Comm = nullptr;
    links_.clear();
}

// ---- settings

bool TVaCustomComm::IsOpen() const {
    return Session() != nullptr;
}

std::shared_ptr<TVaCommSession> TVaCustomComm::Session() const {
    std::lock_guard lock(sessionLock_);
    return session_;
}

void TVaCustomComm::CheckClosed() const {
    if (IsOpen()) {
        SetLastError(0);
        RaiseCommError(ErrPortOpen);
    }
}

QString TVaCustomComm::GetDeviceName() const {
    QString out;
    const QString& f = deviceName_;
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (f[i] == u'%' && i + 1 < f.size() && (f[i + 1] == u'd' || f[i + 1] == u'%')) {
            out += f[i + 1] == u'd' ? QString::number(portNum_) : QStringLiteral("%");
            ++i;
        } else {
            out += f[i];
        }
    }
    return out;
}

void TVaCustomComm::SetBaudrate(TVaBaudrate v) {
    if (v == baudrate_)
        return;
    baudrate_ = v;
    if (v != brUser)
        userBaudrate_ = 0;
    ApplyDCB();
}

void TVaCustomComm::SetUserBaudrate(int v) {
    if (v == userBaudrate_)
        return;
    userBaudrate_ = v;
    baudrate_ = brUser;
    ApplyDCB();
}

void TVaCustomComm::SetParity(TVaParity v) {
    if (v != parity_) {
        parity_ = v;
        ApplyDCB();
    }
}

void TVaCustomComm::SetDatabits(TVaDatabits v) {
    if (v != databits_) {
        databits_ = v;
        ApplyDCB();
    }
}

void TVaCustomComm::SetStopbits(TVaStopbits v) {
    if (v != stopbits_) {
        stopbits_ = v;
        ApplyDCB();
    }
}

void TVaCustomComm::SetOptions(TVaCommOptions v) {
    if (!(v == options_)) {
        options_ = v;
        ApplyDCB();
    }
}

void TVaCustomComm::SetPortNum(int v) {
    CheckClosed();
    portNum_ = v < 0 ? 0 : v;
}

void TVaCustomComm::SetDeviceName(const QString& v) {
    CheckClosed();
    deviceName_ = v;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents v) {
    CheckClosed();
    monitorEvents_ = v;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& v) {
    CheckClosed();
    buffers_.Assign(v);
}

void TVaCustomComm::SetDirectWrite(bool v) {
    CheckClosed();
    directWrite_ = v;
}

void TVaCustomComm::SetUpdateDCB(bool v) {
    CheckClosed();
    updateDcb_ = v;
}

// A thread that has not yet started takes the new priority when it does.
void TVaCustomComm::SetEventPriority(TThreadPriority v) {
    if (v == eventPriority_)
        return;
    eventPriority_ = v;
    if (const auto s = Session(); s && s->EventMask != 0) {
        std::lock_guard lock(s->PriorityLock);
        s->EventPriority = RelativePriority(v);
        SetThreadRelativePriority(s->EventTid, s->BaseNice, s->EventPriority);
    }
}

void TVaCustomComm::SetWritePriority(TThreadPriority v) {
    if (v == writePriority_)
        return;
    writePriority_ = v;
    if (const auto s = Session(); s && s->HasWriteThread) {
        std::lock_guard lock(s->PriorityLock);
        s->WritePriority = RelativePriority(v);
        SetThreadRelativePriority(s->WriteTid, s->BaseNice, s->WritePriority);
    }
}

void TVaCustomComm::BuffersChanged() {
    CheckClosed();
    ApplyBuffers();
    ApplyDCB();
}

void TVaCustomComm::ApplyDCB() {
    const std::shared_ptr<TVaCommSession> session = Session();
    if (!session || !updateDcb_)
        return;
    TDCB dcb;
    dcb.BaudRate = baudrate_ == brUser ? quint32(userBaudrate_) : BaudrateOf(baudrate_);
    dcb.ByteSize = quint8(4 + int(databits_));
    dcb.Parity = quint8(parity_);
    dcb.StopBits = quint8(stopbits_);
    dcb.XonChar = eventChars_.XonChar();
    dcb.XoffChar = eventChars_.XoffChar();
    dcb.ErrorChar = eventChars_.ErrorChar();
    dcb.EofChar = eventChars_.EofChar();
    dcb.EvtChar = eventChars_.EventChar();
    dcb.XonLim = quint16(buffers_.XonLimit());
    dcb.XoffLim = quint16(buffers_.XoffLimit());
    quint32 f = DCB_fBinary;
    const TVaFlowControl& fc = flowControl_;
    if (options_.Contains(coParityCheck))
        f |= DCB_fParity;
    if (fc.OutCtsFlow())
        f |= DCB_fOutxCtsFlow;
    if (fc.OutDsrFlow())
        f |= DCB_fOutxDsrFlow;
    if (fc.ControlDtr() == dtrEnabled)
        f |= DCB_fDtrControlEnable;
    else if (fc.ControlDtr() == dtrHandshake)
        f |= DCB_fDtrControlHandshake;
    if (fc.DsrSensitivity())
        f |= DCB_fDsrSensitivity;
    if (fc.TxContinueOnXoff())
        f |= DCB_fTXContinueOnXoff;
    if (fc.XonXoffOut())
        f |= DCB_fOutX;
    if (fc.XonXoffIn())
        f |= DCB_fInX;
    if (options_.Contains(coErrorChar))
        f |= DCB_fErrorChar;
    if (options_.Contains(coNullStrip))
        f |= DCB_fNull;
    if (fc.ControlRts() == rtsEnabled)
        f |= DCB_fRtsControlEnable;
    else if (fc.ControlRts() == rtsHandshake)
        f |= DCB_fRtsControlHandshake;
    else if (fc.ControlRts() == rtsToggle)
        f |= DCB_fRtsControlToggle;
    dcb.Flags = f;
    CheckCommResult(session->Device.SetCommState(dcb),
                    QStringLiteral("Error writing dcb (%d), %s"));
}

// The kernel's queues have fixed sizes and every transfer here is non-blocking, so queue
// sizes, time limits and the event mask need nothing from the driver: the threads apply
// them. Their failures ("Error initializing buffers", "Error setting timeouts",
// " Error setting EventMask") therefore cannot occur on this platform.
void TVaCustomComm::ApplyBuffers() {}
void TVaCustomComm::ApplyTimeouts() {}

void TVaCustomComm::ApplyEventMask() {
    quint32 mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e)
        if (monitorEvents_.Contains(TVaCommEvent(e)))
            mask |= CommEventBit(TVaCommEvent(e));
    // The write thread reports an empty transmit queue itself.
    if (!directWrite_)
        mask &= ~quint32(EV_TXEMPTY);
    eventMask_ = mask;
    if (session_)
        session_->EventMask = mask;
}

// ---- opening and closing

void TVaCustomComm::CreateHandle() {
    const QString name = GetDeviceName();
    const QString shown = EscapeFormatText(name);
    const QString cantOpen = QStringLiteral("Can't open specified device %1").arg(shown) +
                             QStringLiteral(" (Error %d, %s)");
    // The wake-up descriptors come first: without them the threads could never be woken.
    auto session = std::make_shared<TVaCommSession>(directWrite_ ? 0 : buffers_.WriteSize());
    if (!session->EventsReady())
        RaiseCommError(cantOpen);
    if (!session->Device.Open(ResolveSerialDevice(name))) {
        if (GetLastError() == ENOENT)
            RaiseCommError(QStringLiteral("Specified device not found (%1).").arg(shown));
        RaiseCommError(cantOpen);
    }
    // Made by the first opening that gets this far and kept for the life of the process.
    session->Context = TVaCallDispatcher::Instance();
    if (!session->Context)
        RaiseCommError(cantOpen);
    session->Port = this;
    quint32 errors = 0;
    session->Device.LineErrors(session->StatusBaseline, errors);
    // Complete before another thread can see it: a write from there goes to the queue
    // the write thread will find.
    session->DirectWrite = directWrite_;
    // The threads start at the opener's priority, which is their normal one.
    session->BaseNice = CurrentThreadNice();
    session->HasWriteThread = !directWrite_;
    std::lock_guard lock(ReadLock);
    std::lock_guard sessionLock(sessionLock_);
    session_ = std::move(session);
}

void TVaCustomComm::CreateThreads() {
    TVaCommSession& s = *session_;
    s.EventPriority = RelativePriority(eventPriority_);
    s.WritePriority = RelativePriority(writePriority_);
    try {
        if (eventMask_ != 0)
            TVaCommEventThread::Start(session_);
        if (s.HasWriteThread)
            TVaCommWriteThread::Start(session_);
    } catch (const std::system_error& e) {
        SetLastError(e.code().value());
        RaiseCommError(QStringLiteral("Can't open specified device %1")
                           .arg(EscapeFormatText(GetDeviceName())) +
                       QStringLiteral(" (Error %d, %s)"));
    }
}

void TVaCustomComm::Open() {
    CheckClosed();
    CreateHandle();
    try {
        ApplyDCB();
        ApplyBuffers();
        ApplyTimeouts();
        ApplyEventMask();
        CreateThreads();
    } catch (...) {
        StopThreads();
        CloseDevice();
        throw;
    }
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
            ReportCurrentException();
        }
    }
}

void TVaCustomComm::StopThreads() {
    if (session_)
        session_->Stop();
}

void TVaCustomComm::CloseDevice() {
    std::shared_ptr<TVaCommSession> session;
    {
        std::lock_guard lock(ReadLock);
        std::lock_guard sessionLock(sessionLock_);
        session.swap(session_);
    }
    if (!session)
        return;
    session->Stop();
    session->Port = nullptr;
    // A notification still running (an error box on the user-interface thread) or a
    // call on another thread may hold the opening for a long time: the device is let go
    // now, its number only when the last holder lets go.
    session->Device.Retire();
}

void TVaCustomComm::Close() {
    if (!IsOpen())
        return;
    {
        std::lock_guard lock(ReadLock);
        StopThreads();
    }
    CloseDevice();
    if (OnClose && !destroying_)
        OnClose(this);
    std::this_thread::sleep_for(std::chrono::milliseconds(closePauseMs.load()));
}

void TVaCustomComm::Loaded() {
    if (autoOpen_)
        Open();
}

// ---- reads, line status, purging

int TVaCustomComm::ReadBuf(void* Buffer, int Count) {
    std::lock_guard lock(ReadLock);
    if (!session_ || Count <= 0)
        return 0;
    const int n = session_->Device.Read(Buffer, Count);
    if (n < 0)
        RaiseCommError(QStringLiteral("Read error (%d), %s"));
    session_->RxConsumed += quint64(n);
    return n;
}

void TVaCustomComm::ReadText(QByteArray& S) {
    const int n = ReadBufUsed();
    if (n <= 0) {
        S.clear();
        return;
    }
    S.resize(n);
    // Only what was actually read: another reader or a purge may have taken bytes.
    S.resize(ReadBuf(S.data(), n));
}

int TVaCustomComm::ReadBufUsed() {
    LineStatus status; // a closed port reports nothing waiting
    GetLineStatus(status);
    return int(status.InQueue);
}

void TVaCustomComm::GetLineStatus(LineStatus& Status) {
    std::lock_guard lock(ReadLock);
    Status = LineStatus{};
    if (!session_)
        return;
    TSerialDevice& d = session_->Device;
    int in = 0, out = 0;
    quint32 errors = 0;
    const QString format = QStringLiteral("Error retrieving statistics (%d), %s");
    CheckCommResult(d.InQueue(in), format);
    CheckCommResult(d.OutQueue(out), format);
    CheckCommResult(d.LineErrors(session_->StatusBaseline, errors), format);
    Status.Errors = errors;
    Status.InQueue = quint32(in);
    Status.OutQueue = quint32(out);
}

void TVaCustomComm::Purge(quint32 Flags) {
    std::lock_guard lock(ReadLock);
    if (!session_)
        return;
    TVaCommSession& s = *session_;
    if (Flags != (PURGE_RXABORT | PURGE_RXCLEAR) && s.HasWriteThread) {
        const bool servesWriter = s.Context && QThread::currentThread() == s.Context->thread();
        if (s.Queue.Clear(servesWriter) != TClearOutcome::Cleared) {
            SetLastError(ETIMEDOUT);
            RaiseCommError(QStringLiteral("Error clearing buffers (%d), %s"));
        }
    }
    const bool input = Flags & PURGE_RXCLEAR;
    CheckCommResult(s.Device.Flush(input, Flags & PURGE_TXCLEAR),
                    QStringLiteral("Error clearing buffers (%d), %s"));
    if (input)
        ++s.RxPurges;
}

void TVaCustomComm::PurgeReadWrite() {
    Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

// ---- writes

int TVaCustomComm::WriteBuf(const void* Buffer, int Count) {
    const std::shared_ptr<TVaCommSession> s = Session();
    if (!s || Count <= 0)
        return 0;
    if (s->DirectWrite)
        return DirectWriteBuf(*s, Buffer, Count);
    // Never more than the queue was built for, whatever WriteSize says now; closing ends
    // the wait for room.
    switch (s->Queue.Push(Buffer, Count, buffers_.WriteSize(), buffers_.WriteTimeout())) {
    case TPushOutcome::Queued:
        return Count;
    case TPushOutcome::Closed:
        return 0;
    case TPushOutcome::NoRoom:
        break;
    }
    SetLastError(0);
    RaiseCommError(QStringLiteral("Output buffer is full. Please check comm status."));
}

int TVaCustomComm::DirectWriteBuf(TVaCommSession& S, const void* Buffer, int Count) {
    const TTransmitQueue::TTurn turn = S.Queue.Hold();
    const char* p = static_cast<const char*>(Buffer);
    int done = 0;
    const QDeadlineTimer deadline(buffers_.ReadTimeout(), Qt::PreciseTimer);
    while (done < Count) {
        // Checked in the turn: once the session is stopped, the device is not written.
        if (turn.Closed())
            return 0;
        const int n = S.Device.Write(p + done, Count - done);
        if (n < 0)
            RaiseCommError(QStringLiteral("Write error (%d), %s"));
        done += n;
        if (done == Count)
            break;
        if (deadline.hasExpired())
            return 0; // not accepted in time
        S.Device.Wait(TSerialDevice::Writable, {S.Queue.Closing()}, int(deadline.remainingTime()));
    }
    return done;
}

// ---- dispatch (user-interface thread)

void TVaCustomComm::DispatchEvents(quint32 Events) {
    const QPointer<TVaCustomComm> self(this);
    try {
        if (display_)
            display_->UpdateDisplay(this);
        if (Events & EV_RXCHAR) {
            HandleRxChar();
            Events &= ~quint32(EV_RXCHAR);
        }
        // A handler may have destroyed the port.
        if (Events != 0 && self)
            HandleEvents(Events);
    } catch (...) {
        ReportCurrentException();
    }
}

void TVaCustomComm::DispatchHangUp() {
    try {
        if (OnHangUp)
            OnHangUp(this);
    } catch (...) {
        ReportCurrentException();
    }
}

void TVaCustomComm::HandleRxChar() {
    const int count = ReadBufUsed();
    if (count <= 0)
        return;
    if (!links_.isEmpty()) {
        QByteArray block(count, '\0');
        const int n = ReadBuf(block.data(), count);
        HandleRxBuf(block.constData(), n);
        return;
    }
    if (OnRxChar)
        OnRxChar(this, count);
}

bool TVaCustomComm::CheckLineErrors() {
    LineStatus status;
    GetLineStatus(status);
    if (status.Errors != 0 && OnError) {
        try {
            OnError(this, int(status.Errors));
        } catch (...) {
            ReportCurrentException();
        }
    }
    return status.Errors != 0;
}

void TVaCustomComm::HandleEvents(quint32 Mask) {
    if (Mask & EV_ERR)
        CheckLineErrors();
    if (!links_.isEmpty())
        NotifyLinksEvent(Mask);
    const struct {
        quint32 bit;
        TNotifyEvent TVaCustomComm::*handler;
    } handlers[] = {
        {EV_RXFLAG, &TVaCustomComm::OnRxFlag},     {EV_CTS, &TVaCustomComm::OnCts},
        {EV_DSR, &TVaCustomComm::OnDsr},           {EV_RING, &TVaCustomComm::OnRing},
        {EV_RLSD, &TVaCustomComm::OnRlsd},         {EV_TXEMPTY, &TVaCustomComm::OnTxEmpty},
        {EV_BREAK, &TVaCustomComm::OnBreak},       {EV_PERR, &TVaCustomComm::OnPErr},
        {EV_RX80FULL, &TVaCustomComm::OnRx80Full}, {EV_EVENT1, &TVaCustomComm::OnEvent1},
        {EV_EVENT2, &TVaCustomComm::OnEvent2}};
    const QPointer<TVaCustomComm> self(this);
    for (const auto& h : handlers) {
        if (!self)
            return;
        if ((Mask & h.bit) && this->*h.handler)
            (this->*h.handler)(this);
    }
}

void TVaCustomComm::NotifyLinksEvent(quint32 Mask) {
    if (!LinksActive)
        return;
    for (TVaDataLink* link : links_)
        if (link->Active)
            link->NotifyEvent(Mask);
}

void TVaCustomComm::HandleRxBuf(PVaData Data, int Count) {
    if (LinksActive)
        for (TVaDataLink* link : links_)
            if (link->Active)
                link->NotifyRxBuf(Data, Count);
    if (OnRxBuf)
        OnRxBuf(this, Data, Count);
}

void TVaCustomComm::AttachLink(TVaDataLink* Link) {
    if (Link && !links_.contains(Link)) {
        links_.append(Link);
        Link->Comm = this;
    }
}

void TVaCustomComm::DetachLink(TVaDataLink* Link) {
    if (links_.removeOne(Link))
        Link->Comm = nullptr;
}
