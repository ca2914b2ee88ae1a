#pragma once
// The wire trace of vendrik-cli (--trace FILE): a device line that forwards every call to
// the real one and records what crossed the wire, for support to read afterwards.
//
// One line per event, after a few "#" header lines:
//       TIME DIR SECTOR WHAT
//   TIME    milliseconds since the trace began, monotonic clock, three decimals
//   DIR     ">" sent, "<" received, "*" an event of the port (open, close, purge, wait,
//           bytes waiting, an error of the link)
//   SECTOR  from the header of the last frame written since the port opened: its letter
//           and number ("W0", "R127"), "-" before the first frame
//   WHAT    for ">" and "<": the byte count, the bytes in hex, then "|...|" with the
//           printable ones ("." for the others); for "*": the event
// Sent bytes carry the time they were handed to the port, received ones the time they
// were taken from it. The lines are kept in memory and written when the port is opened
// again and when the trace ends, never between a frame and its reply wait.

#include "programmer/DeviceLink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <exception>
#include <vector>

struct TArguments;

class TTracingLink : public TDeviceLink {
public:
    explicit TTracingLink(TDeviceLink& Inner) : inner_(Inner) {}
    // Writes what is left.
    ~TTracingLink() override;
    TTracingLink(const TTracingLink&) = delete;
    TTracingLink& operator=(const TTracingLink&) = delete;

    // Creates (or empties) Path and starts the clock; false with the reason, in the
    // operator's words, in Error. Device names the line in the header.
    bool Begin(const QString& Path, const QString& Device, QString& Error);
    // Writes what is recorded and the closing line, and closes the file; a failure is
    // reported on standard error (the device's outcome stands). Idempotent.
    void Finish();

    void Open(int PortNum) override;
    void Close() override;
    void Purge() override;
    void Write(const quint8* Data, int Count) override;
    void Wait(int Ms) override;
    QByteArray ReadText() override;
    int BytesWaiting() override;
    int ReadBlock(quint8* Data, int Count) override;

private:
    enum class TEvent { Open, Close, Purge, Wait, Waiting, Sent, Received, Failed };
    struct TRecord {
        qint64 ns;
        TEvent event;
        char letter; // of the sector; 0 before the first frame
        quint16 sector;
        int value; // the port number, milliseconds or byte count of the event
        QByteArray bytes;
        QString text; // an error's message
    };
    void Record(qint64 Ns, TEvent Event, int Value = 0, QByteArray Bytes = {}, QString Text = {});
    // Records an error of the link and lets it go on.
    [[noreturn]] void Failed(std::exception_ptr Error);
    void Flush();

    TDeviceLink& inner_;
    QFile file_;
    QString path_;
    QByteArray device_;
    QElapsedTimer clock_;
    bool failed_ = false;
    char letter_ = 0;
    quint16 sector_ = 0;
    qint64 sent_ = 0, received_ = 0;
    std::vector<TRecord> records_;
};

// The trace file of one device of a gang: File with "-" and the port's name put before
// its extension (the last "." of its name, not a leading one). The port's name is COMn
// for a COM number, otherwise the device path without a leading "/dev/", every "/" and
// every character other than a letter, digit, ".", "_" or "-" made "_":
// trace.txt with 3 -> trace-COM3.txt, with /dev/ttyUSB0 -> trace-ttyUSB0.txt, with
// /dev/pts/5 -> trace-pts_5.txt.
QString TraceFileForPort(const QString& File, const QString& Port);

// What keeps Args' trace from being written, in the operator's words; empty when nothing
// does: the trace over the program or image file, or two ports of a gang that give one
// file name.
QString TraceArgumentsProblem(const TArguments& Args);
