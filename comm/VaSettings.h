#pragma once
// The port's three settings objects. Each tells its owner about a change through
// ChangeHandler, once per BeginChange/EndChange bracket.

#include "comm/VaTypes.h"

#include <QObject>
#include <atomic>
#include <functional>

class TVaPersistent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void BeginChange() { ++UpdateCount; }
    void EndChange();
    void NotifyChanged();

    int UpdateCount = 0;
    std::function<void()> ChangeHandler;
};

// Queue sizes, timeouts and XON/XOFF limits.
class TVaBuffers : public TVaPersistent {
    Q_OBJECT
    Q_PROPERTY(int ReadSize READ ReadSize WRITE SetReadSize)
    Q_PROPERTY(int WriteSize READ WriteSize WRITE SetWriteSize)
    Q_PROPERTY(int ReadTimeout READ ReadTimeout WRITE SetReadTimeout)
    Q_PROPERTY(int WriteTimeout READ WriteTimeout WRITE SetWriteTimeout)
    Q_PROPERTY(int XonLimit READ XonLimit WRITE SetXonLimit)
    Q_PROPERTY(int XoffLimit READ XoffLimit WRITE SetXoffLimit)
public:
    using TVaPersistent::TVaPersistent;
    int ReadSize() const { return readSize_; }
    int WriteSize() const { return writeSize_; }
    int ReadTimeout() const { return readTimeout_; }
    int WriteTimeout() const { return writeTimeout_; }
    int XonLimit() const { return xonLimit_; }
    int XoffLimit() const { return xoffLimit_; }
    void SetReadSize(int v) { SetNotifying(readSize_, v); }
    void SetWriteSize(int v) { SetNotifying(writeSize_, v); }
    void SetReadTimeout(int v) { readTimeout_ = Clamp(v); }
    void SetWriteTimeout(int v) { writeTimeout_ = Clamp(v); }
    void SetXonLimit(int v) { SetNotifying(xonLimit_, v); }
    void SetXoffLimit(int v) { SetNotifying(xoffLimit_, v); }
    void Assign(const TVaBuffers& Source);

private:
    static int Clamp(int v) { return v < 0 ? 0 : v; }
    void SetNotifying(std::atomic<int>& field, int v);
    // Atomic: a write on another thread reads the sizes and timeouts while the owner
    // may change them (the timeouts take effect at the next transfer).
    std::atomic<int> readSize_{4096};
    std::atomic<int> writeSize_{2048};
    std::atomic<int> readTimeout_{1000};
    std::atomic<int> writeTimeout_{1000};
    std::atomic<int> xonLimit_{1024};
    std::atomic<int> xoffLimit_{1024};
};

// Hardware and software handshake.
class TVaFlowControl : public TVaPersistent {
    Q_OBJECT
    Q_PROPERTY(bool OutCtsFlow READ OutCtsFlow WRITE SetOutCtsFlow)
    Q_PROPERTY(bool OutDsrFlow READ OutDsrFlow WRITE SetOutDsrFlow)
    Q_PROPERTY(VaComm::TVaControlDtr ControlDtr READ ControlDtr WRITE SetControlDtr)
    Q_PROPERTY(VaComm::TVaControlRts ControlRts READ ControlRts WRITE SetControlRts)
    Q_PROPERTY(bool XonXoffOut READ XonXoffOut WRITE SetXonXoffOut)
    Q_PROPERTY(bool XonXoffIn READ XonXoffIn WRITE SetXonXoffIn)
    Q_PROPERTY(bool DsrSensitivity READ DsrSensitivity WRITE SetDsrSensitivity)
    Q_PROPERTY(bool TxContinueOnXoff READ TxContinueOnXoff WRITE SetTxContinueOnXoff)
public:
    using TVaPersistent::TVaPersistent;
    bool OutCtsFlow() const { return outCtsFlow_; }
    bool OutDsrFlow() const { return outDsrFlow_; }
    TVaControlDtr ControlDtr() const { return controlDtr_; }
    TVaControlRts ControlRts() const { return controlRts_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetOutCtsFlow(bool v) { Set(outCtsFlow_, v); }
    void SetOutDsrFlow(bool v) { Set(outDsrFlow_, v); }
    void SetControlDtr(TVaControlDtr v) { Set(controlDtr_, v); }
    void SetControlRts(TVaControlRts v) { Set(controlRts_, v); }
    void SetXonXoffOut(bool v) { Set(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Set(xonXoffIn_, v); }
    void SetDsrSensitivity(bool v) { Set(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Set(txContinueOnXoff_, v); }
    void Assign(const TVaFlowControl& Source);

private:
    template <typename T> void Set(T& field, T v) {
        if (field != v) {
            field = v;
            NotifyChanged();
        }
    }
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TVaControlDtr controlDtr_ = dtrDisabled;
    TVaControlRts controlRts_ = rtsDisabled;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
};

// Special characters; every store notifies, changed or not.
class TVaEventChars : public TVaPersistent {
    Q_OBJECT
    Q_PROPERTY(char XonChar READ XonChar WRITE SetXonChar)
    Q_PROPERTY(char XoffChar READ XoffChar WRITE SetXoffChar)
    Q_PROPERTY(char ErrorChar READ ErrorChar WRITE SetErrorChar)
    Q_PROPERTY(char EventChar READ EventChar WRITE SetEventChar)
    Q_PROPERTY(char EofChar READ EofChar WRITE SetEofChar)
public:
    using TVaPersistent::TVaPersistent;
    // Index 1 XonChar, 2 XoffChar, 3 ErrorChar, 4 EventChar, 5 EofChar.
    char GetChar(int Index) const;
    void SetChar(int Index, char Value);
    char XonChar() const { return GetChar(1); }
    char XoffChar() const { return GetChar(2); }
    char ErrorChar() const { return GetChar(3); }
    char EventChar() const { return GetChar(4); }
    char EofChar() const { return GetChar(5); }
    void SetXonChar(char c) { SetChar(1, c); }
    void SetXoffChar(char c) { SetChar(2, c); }
    void SetErrorChar(char c) { SetChar(3, c); }
    void SetEventChar(char c) { SetChar(4, c); }
    void SetEofChar(char c) { SetChar(5, c); }
    void Assign(const TVaEventChars& Source);

private:
    char chars_[5] = {0x11, 0x13, 0x00, 0x00, 0x00};
};
