#include "comm/VaSync.h"

#include "platform/ErrorText.h"

TVaHandleObject::TWaitResult TVaHandleObject::WaitFor(quint32 Ms) {
    switch (handle_.Wait(Ms == Infinite ? -1 : int(std::min<quint32>(Ms, 0x7FFFFFFF)))) {
    case TWaitOutcome::Event:
        return WaitSignaled;
    case TWaitOutcome::TimedOut:
        return WaitTimeout;
    case TWaitOutcome::DeviceReady: // no device was watched
    case TWaitOutcome::Failed:
        break;
    }
    lastError_ = GetLastError();
    return WaitError;
}
