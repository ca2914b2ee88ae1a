#include "platform/ErrorText.h"

#include <cstring>

namespace {
thread_local int lastError = 0;
}

int GetLastError() { return lastError; }
void SetLastError(int Code) { lastError = Code; }

QString SystemErrorText(int Code) {
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(Code, buffer, sizeof buffer);
    QString s = QString::fromLocal8Bit(text ? text : buffer);
    while (!s.isEmpty() && (s.back() == u' ' || s.back() == u'.' || s.back().unicode() < 0x20))
        s.chop(1);
    return s;
}
