#include "comm/VaSync.h"

#include "platform/ErrorText.h"

TVaHandleObject::TWaitResult TVaHandleObject::WaitFor(quint32 Ms) {
    const int r = handle_.Wait(Ms == Infinite ? -1 : int(std::min<quint32>(Ms, 0x7FFFFFFF)));
    if (r == 0)
        return WaitSignaled;
    if (r == 1)
        return WaitTimeout;
    lastError_ = GetLastError();
    return WaitError;
}
