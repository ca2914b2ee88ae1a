#include "comm/VaCommError.h"

#include "platform/ErrorText.h"

QString FormatCommError(const QString& Format, int Code, const QString& Text) {
    QString out;
    out.reserve(Format.size() + Text.size() + 8);
    for (qsizetype i = 0; i < Format.size(); ++i) {
        const QChar c = Format[i];
        if (c == u'%' && i + 1 < Format.size()) {
            const QChar k = Format[i + 1];
            if (k == u'd') {
                out += QString::number(Code);
                ++i;
                continue;
            }
            if (k == u's') {
                out += Text;
                ++i;
                continue;
            }
            if (k == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString EscapeFormatText(const QString& Text) {
    QString out = Text;
    out.replace(u'%', QStringLiteral("%%"));
    return out;
}

void RaiseCommError(const QString& Format) {
    const int code = GetLastError();
    throw EVaCommError(FormatCommError(Format, code, SystemErrorText(code)));
}
