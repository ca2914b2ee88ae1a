#pragma once
// The serial link's one exception and the helpers that raise it with the platform's
// last error code and its system text.

#include "base/ProgramError.h"

#include <QString>

class EVaCommError : public EProgramError {
public:
    using EProgramError::EProgramError;
};

// Fills a format's "%d" with Code and "%s" with Text ("%%" is a literal "%"); any other
// text, including what the placeholders bring in, is taken literally.
QString FormatCommError(const QString& Format, int Code, const QString& Text);

// Escapes "%" so that text can be embedded in a format unchanged.
QString EscapeFormatText(const QString& Text);

// Raises EVaCommError: the format filled with the calling thread's last platform error.
[[noreturn]] void RaiseCommError(const QString& Format);
// Raises when a platform call reported failure.
inline void CheckCommResult(bool Ok, const QString& Format) {
    if (!Ok)
        RaiseCommError(Format);
}
