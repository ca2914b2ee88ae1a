#pragma once
// Every text device programming shows: the progress window's status and mode lines and
// the notices of the buttons. They are the program's own words; front ends show them,
// none decides anything by them.

#include "programmer/Notice.h"
#include "programmer/RunOutcome.h"

#include <QString>

// Status lines.
extern const QString TextSearching;   // "Поиск прибора..."
extern const QString TextReading;     // "Идет считывание..."
extern const QString TextWriting;     // "Идет запись..."
extern const QString TextDataWritten; // "Данные записаны"
extern const QString TextWriteError;  // "Ошибка записи"
extern const QString TextDataRead;    // "Данные считаны"
extern const QString TextReadError;   // "Ошибка считывания"
// The status line a transfer leaves: "Данные записаны" or "Ошибка записи",
// "Данные считаны" or "Ошибка считывания".
QString StatusTextAfter(const TRunOutcome& Outcome);

// Mode lines.
extern const QString TextModeRead;  // "Режим: Чтение данных"
extern const QString TextModeWrite; // "Режим: Запись данных"

// Captions.
extern const QString CaptionError;      // "Ошибка"
extern const QString CaptionProgrammer; // "Программатор"

// Notices of the device runs.
TNotice NoticeProgramNotLoaded(); // Write with no program
TNotice NoticePortNotOpened();    // "Не могу открыть порт"
// Notices of the program and device files.
TNotice NoticeFileUnreadable();
TNotice NoticeFileTooLarge();
TNotice NoticeNothingSaved(); // Save As cancelled: an empty box
TNotice NoticeSaveFailed();
// Notices of Compare.
TNotice NoticeImageMissing();
TNotice NoticeDifferences(int Count);
TNotice NoticeImagesMatch();
