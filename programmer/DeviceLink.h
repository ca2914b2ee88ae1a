#pragma once
// What the frame protocol and the device runs ask of the serial line, and nothing more:
// open, close, purge, write a frame, wait for the reply, read it. The programs give it
// the serial port component (TCommLink); tests give it a recording double that checks
// the exact call sequence without waiting for real; vendrik-cli wraps it to trace the
// wire. Every call may raise the link's error.

#include <QByteArray>
#include <QtGlobal>

class TVaCustomComm;

class TDeviceLink {
public:
    virtual ~TDeviceLink() = default;
    // Opens COM<PortNum> listening for received characters alone; the port must be
    // closed. Raises the link's error when the port cannot be opened or set up.
    virtual void Open(int PortNum) = 0;
    // Closes the port if open; does not wait for the link's threads.
    virtual void Close() = 0;
    // Empties both queues.
    virtual void Purge() = 0;
    virtual void Write(const quint8* Data, int Count) = 0;
    // Waits Ms milliseconds for the device's reply, dispatching events meanwhile.
    virtual void Wait(int Ms) = 0;
    // Every byte waiting, removed from the input queue; empty when none.
    virtual QByteArray ReadText() = 0;
    virtual int BytesWaiting() = 0;
    // Up to Count waiting bytes into Data; the number taken.
    virtual int ReadBlock(quint8* Data, int Count) = 0;
};

// The serial port component as the device's line.
class TCommLink : public TDeviceLink {
public:
    explicit TCommLink(TVaCustomComm& Port) : port_(Port) {}
    TVaCustomComm& Port() { return port_; }

    void Open(int PortNum) override;
    void Close() override;
    void Purge() override;
    void Write(const quint8* Data, int Count) override;
    void Wait(int Ms) override;
    QByteArray ReadText() override;
    int BytesWaiting() override;
    int ReadBlock(quint8* Data, int Count) override;

private:
    TVaCustomComm& port_;
};
