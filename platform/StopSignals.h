#pragma once
// Ctrl+C (SIGINT), SIGTERM and SIGHUP as a readable descriptor, so an event loop can notice them
// between two of its events instead of being torn down inside one. The handler only
// writes one byte into a pipe, which is async-signal-safe; the loop watches the read end.

class TStopSignals {
public:
    TStopSignals() = default;
    ~TStopSignals(); // puts the previous handlers back
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // One instance at a time. False when the pipe or a handler could not be set up.
    bool Install();
    // Becomes readable once a signal has arrived.
    int Descriptor() const { return readFd_; }
    // Empties the pipe; true when at least one signal had arrived.
    bool Take();

private:
    int readFd_ = -1;
    int writeFd_ = -1;
    bool installed_ = false;
};
