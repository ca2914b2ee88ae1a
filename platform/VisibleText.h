#pragma once
// Text from outside the program (sysfs strings, process names, file and device names)
// made safe to print on a terminal: every character a terminal would act on is shown as
// an escape instead, so a name cannot move the cursor, retitle the window or hide what
// follows. Printable text, Cyrillic included, stays as it is.
//
// ESC shows as \e; the other C0 controls, DEL and the C1 controls as \xNN; a backslash
// as \\ (so that what is shown reads back one way); the Unicode line and paragraph
// separators and the bidirectional overrides and isolates as \uNNNN.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

QString VisibleText(QStringView Text);
// Bytes meant as UTF-8: valid sequences as text, every other byte as \xNN.
QString VisibleText(QByteArrayView Bytes);
