#pragma once
// The calling thread's last platform error code and the system text for a code.

#include <QString>

int GetLastError();
void SetLastError(int Code);

// strerror(Code) without trailing blanks, control characters and ".".
QString SystemErrorText(int Code);
