#pragma once
// The one text-to-integer conversion stored settings use: leading blanks, an optional
// sign, then decimal digits or hexadecimal digits after "$" or "0x"; nothing may follow,
// and the value must lie within signed 32 bits.

#include <QString>

bool TextToInt(const QString& text, int* value);
int TextToIntDef(const QString& text, int fallback);
