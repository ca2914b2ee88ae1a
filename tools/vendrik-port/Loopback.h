#pragma once
// The line test for a loopback plug (transmit bridged to receive): frames of the
// device's size go out at 57600 8N1 and must come back intact within the time the
// device has for a whole 260-byte reply, after which the driver's line-error counters
// must not have moved.

#include <QString>
#include <functional>

constexpr int LoopbackFrameSize = 260;
constexpr int LoopbackFrames = 5;
// The device must have its whole 260-byte read reply waiting 100 ms after the request
// was handed to the port; a line that cannot echo a frame as fast cannot carry that.
constexpr int LoopbackLimitMs = 100;
// How long past the limit a frame is still awaited, to tell a late frame from a lost one.
constexpr int LoopbackGraceMs = 400;

// Runs the test on COMN, reporting each step through Print. True when every frame came
// back intact and in time and no line error was counted.
bool RunLoopback(int Number, const std::function<void(const QString&)>& Print);
