#pragma once
// The serial port component: settings, opening and closing, a background event thread
// that turns line events into notifications on the user-interface thread, a transmit
// queue written by a background thread, block and text reads, purging, and a delay that
// keeps the user interface alive.

#include "base/Events.h"
#include "comm/VaCommError.h"
#include "comm/VaSettings.h"
#include "comm/VaSync.h"
#include "comm/VaTypes.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

class TVaCustomComm;
struct TVaCommSession;

using PVaData = const void*;
using TVaCommErrorEvent = std::function<void(QObject* Sender, int Errors)>;
using TVaCommRxCharEvent = std::function<void(QObject* Sender, int Count)>;
using TVaCommRxBufEvent = std::function<void(QObject* Sender, PVaData Data, int Count)>;

// What GetLineStatus reports.
struct LineStatus {
    quint32 Errors = 0;   // CE_* line-error bits since the last query
    quint32 Flags = 0;    // status flags (none are reported on this platform)
    quint32 InQueue = 0;  // bytes received, not yet read
    quint32 OutQueue = 0; // bytes handed to the driver, not yet sent
};

// Optional display that refreshes itself on every dispatched event.
class TVaDisplay : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void UpdateDisplay(TVaCustomComm* Comm) = 0;
};

// Optional receiver of the port's events and received blocks.
class TVaDataLink {
public:
    virtual ~TVaDataLink() = default;
    virtual void NotifyEvent(quint32 Mask) = 0;
    virtual void NotifyRxBuf(PVaData Data, int Count) = 0;
    bool Active = true;
    TVaCustomComm* Comm = nullptr;
};

class TVaComponent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
};

class TVaCustomComm : public TVaComponent {
    Q_OBJECT
    Q_PROPERTY(bool AutoOpen READ AutoOpen WRITE SetAutoOpen)
    Q_PROPERTY(VaComm::TVaBaudrate Baudrate READ Baudrate WRITE SetBaudrate)
    Q_PROPERTY(VaComm::TVaParity Parity READ Parity WRITE SetParity)
    Q_PROPERTY(VaComm::TVaDatabits Databits READ Databits WRITE SetDatabits)
    Q_PROPERTY(VaComm::TVaStopbits Stopbits READ Stopbits WRITE SetStopbits)
    Q_PROPERTY(TVaEventChars* EventChars READ EventChars)
    Q_PROPERTY(TVaFlowControl* FlowControl READ FlowControl)
    Q_PROPERTY(VaComm::TVaCommOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(int PortNum READ PortNum WRITE SetPortNum)
    Q_PROPERTY(QString DeviceName READ DeviceName WRITE SetDeviceName)
    Q_PROPERTY(VaComm::TVaCommEvents MonitorEvents READ MonitorEvents WRITE SetMonitorEvents)
    Q_PROPERTY(TVaBuffers* Buffers READ Buffers)
    Q_PROPERTY(VaComm::TThreadPriority EventPriority READ EventPriority WRITE SetEventPriority)
    Q_PROPERTY(VaComm::TThreadPriority WritePriority READ WritePriority WRITE SetWritePriority)
    Q_PROPERTY(bool DirectWrite READ DirectWrite WRITE SetDirectWrite)
    Q_PROPERTY(bool UpdateDCB READ UpdateDCB WRITE SetUpdateDCB)
    Q_PROPERTY(int UserBaudrate READ UserBaudrate WRITE SetUserBaudrate)

public:
    explicit TVaCustomComm(QObject* Owner = nullptr);
    ~TVaCustomComm() override;

    // Opening and closing.
    void Open();
    void Close();
    bool IsOpen() const;
    void CheckClosed() const;
    QString GetDeviceName() const;
    // Called once the owner has loaded its stored properties: opens when AutoOpen.
    void Loaded();

    // Reads, writes, purging.
    int ReadBuf(void* Buffer, int Count);
    void ReadText(QByteArray& S);
    int ReadBufUsed();
    void GetLineStatus(LineStatus& Status);
    int WriteBuf(const void* Buffer, int Count);
    // Empties the transmit queue (unless only the input is purged), then the driver's
    // queues Flags names. Raises EVaCommError, nothing purged, when the write thread did
    // not acknowledge within TTransmitQueue::ClearAcknowledgeMs.
    void Purge(quint32 Flags);
    void PurgeReadWrite();

    // Writes the line settings to the open device.
    void ApplyDCB();

    // Links (nothing in this program attaches one).
    void AttachLink(TVaDataLink* Link);
    void DetachLink(TVaDataLink* Link);
    bool LinksActive = true;

    // Properties.
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate v);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity v);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits v);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits v);
    TVaEventChars* EventChars() { return &eventChars_; }
    void SetEventChars(const TVaEventChars& v) { eventChars_.Assign(v); }
    TVaFlowControl* FlowControl() { return &flowControl_; }
    void SetFlowControl(const TVaFlowControl& v) { flowControl_.Assign(v); }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions v);
    int PortNum() const { return portNum_; }
    void SetPortNum(int v);
    QString DeviceName() const { return deviceName_; }
    void SetDeviceName(const QString& v);
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents v);
    TVaBuffers* Buffers() { return &buffers_; }
    void SetBuffers(const TVaBuffers& v);
    TThreadPriority EventPriority() const { return eventPriority_; }
    void SetEventPriority(TThreadPriority v);
    TThreadPriority WritePriority() const { return writePriority_; }
    void SetWritePriority(TThreadPriority v);
    bool DirectWrite() const { return directWrite_; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return updateDcb_; }
    void SetUpdateDCB(bool v);
    int UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int v);
    TVaDisplay* Display() const { return display_; }
    void SetDisplay(TVaDisplay* v) { display_ = v; }
    // Platform event bits computed at Open.
    quint32 EventMask() const { return eventMask_; }

    // Event handlers, run on the user-interface thread.
    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;
    TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;
    // The line hung up while open (adapter unplugged, far end closed): raised once per
    // opening, whatever MonitorEvents holds; nothing more arrives until the port is
    // opened again.
    TNotifyEvent OnHangUp;

    // Dispatch of one completed event wait (user-interface thread).
    void DispatchEvents(quint32 Events);
    // The write thread's notifications (user-interface thread): what a handler raises
    // escapes to the caller.
    void DispatchWriteEvents(quint32 Events) { HandleEvents(Events); }
    void DispatchHangUp();
    bool CheckLineErrors();

protected:
    virtual void CreateHandle();
    virtual void CreateThreads();
    virtual void HandleRxChar();
    virtual void HandleEvents(quint32 Mask);
    virtual void NotifyLinksEvent(quint32 Mask);
    virtual void HandleRxBuf(PVaData Data, int Count);
    void StopThreads();
    void CloseDevice();
    void ApplyBuffers();
    void ApplyTimeouts();
    void ApplyEventMask();

private:
    void BuffersChanged();
    // The current opening, or empty; any thread. A call holding it completes on that
    // opening even if another thread closes the port meanwhile.
    std::shared_ptr<TVaCommSession> Session() const;
    // The bytes accepted; 0 when not accepted in time or the opening was closed.
    int DirectWriteBuf(TVaCommSession& S, const void* Buffer, int Count);

    std::shared_ptr<TVaCommSession> session_; // the open device; empty when closed
    // Guards session_ for calls outside ReadLock; changed under both.
    mutable std::mutex sessionLock_;
    // Guards reads, line status, purging and the stopping of the threads; taken before
    // the lock of the session's transmit queue, never after it.
    TVaCriticalSection ReadLock;
    quint32 eventMask_ = 0;
    bool autoOpen_ = false;
    int portNum_ = 0;
    QString deviceName_ = QStringLiteral("COM%d");
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers buffers_;
    TThreadPriority eventPriority_ = tpNormal;
    TThreadPriority writePriority_ = tpHighest;
    bool directWrite_ = false;
    QList<TVaDataLink*> links_;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    TVaCommOptions options_;
    TVaFlowControl flowControl_;
    TVaEventChars eventChars_;
    bool updateDcb_ = true;
    int userBaudrate_ = 0;
    QPointer<TVaDisplay> display_;
    bool destroying_ = false;
};

// The component placed on a window.
class TVaComm : public TVaCustomComm {
    Q_OBJECT
public:
    using TVaCustomComm::TVaCustomComm;
};

// Waits Ms milliseconds while the calling thread keeps dispatching its events (timers,
// input, the link's cross-thread calls); dispatches at least once.
void DelayWithMessages(int Ms);
