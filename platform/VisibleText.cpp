#include "platform/VisibleText.h"

namespace {
void AppendCode(QString& Out, char Kind, unsigned Code, int Digits) {
    Out += u'\\';
    Out += QLatin1Char(Kind);
    Out += QString::number(Code, 16).rightJustified(Digits, u'0');
}

bool IsFormatting(char32_t c) {
    return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

void AppendCodePoint(QString& Out, char32_t c) {
    if (c == 0x1B)
        Out += QStringLiteral("\\e");
    else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F))
        AppendCode(Out, 'x', unsigned(c), 2);
    else if (c == u'\\')
        Out += QStringLiteral("\\\\");
    else if (IsFormatting(c) || (c >= 0xD800 && c <= 0xDFFF)) // a lone surrogate too
        AppendCode(Out, 'u', unsigned(c), 4);
    else
        Out += QString::fromUcs4(&c, 1);
}

// Length of the valid UTF-8 sequence at Bytes[I] and its code point, 0 when invalid.
int Utf8Sequence(QByteArrayView Bytes, qsizetype I, char32_t& Code) {
    const auto b = [&](qsizetype k) { return uchar(Bytes[k]); };
    const uchar lead = b(I);
    int length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        Code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, min = 0x80, Code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, min = 0x800, Code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, min = 0x10000, Code = lead & 0x07;
    else
        return 0;
    if (I + length > Bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((b(I + k) & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (b(I + k) & 0x3F);
    }
    if (Code < min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return 0;
    return length;
}
} // namespace

QString VisibleText(QStringView Text) {
    QString out;
    out.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text[i];
        if (c.isHighSurrogate() && i + 1 < Text.size() && Text[i + 1].isLowSurrogate()) {
            AppendCodePoint(out, QChar::surrogateToUcs4(c, Text[i + 1]));
            ++i;
        } else {
            AppendCodePoint(out, c.unicode());
        }
    }
    return out;
}

QString VisibleText(QByteArrayView Bytes) {
    QString out;
    out.reserve(Bytes.size());
    for (qsizetype i = 0; i < Bytes.size();) {
        char32_t code = 0;
        const int length = Utf8Sequence(Bytes, i, code);
        if (length == 0) {
            AppendCode(out, 'x', uchar(Bytes[i]), 2);
            ++i;
        } else {
            AppendCodePoint(out, code);
            i += length;
        }
    }
    return out;
}
