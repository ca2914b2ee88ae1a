#include "programmer/Texts.h"

const QString TextSearching = QStringLiteral("Поиск прибора...");
const QString TextReading = QStringLiteral("Идет считывание...");
const QString TextWriting = QStringLiteral("Идет запись...");
const QString TextDataWritten = QStringLiteral("Данные записаны");
const QString TextWriteError = QStringLiteral("Ошибка записи");
const QString TextDataRead = QStringLiteral("Данные считаны");
const QString TextReadError = QStringLiteral("Ошибка считывания");
const QString TextModeRead = QStringLiteral("Режим: Чтение данных");
const QString TextModeWrite = QStringLiteral("Режим: Запись данных");

QString StatusTextAfter(const TRunOutcome& Outcome) {
    const bool done = Outcome.end == TRunEnd::Done;
    if (Outcome.kind == TRunKind::Read)
        return done ? TextDataRead : TextReadError;
    return done ? TextDataWritten : TextWriteError;
}

const QString CaptionError = QStringLiteral("Ошибка");
const QString CaptionProgrammer = QStringLiteral("Программатор");

TNotice NoticeProgramNotLoaded() {
    return {QStringLiteral("Программа не загружена"), CaptionProgrammer, TNoticeIcon::Warning};
}

TNotice NoticePortNotOpened() {
    return {QStringLiteral("Не могу открыть порт"), CaptionError, TNoticeIcon::Error};
}

TNotice NoticeFileUnreadable() {
    return {QStringLiteral("Не могу считать файл"), CaptionError, TNoticeIcon::Error};
}

TNotice NoticeFileTooLarge() {
    return {QStringLiteral("Размер файла превышает максимально допустимый"), CaptionError,
            TNoticeIcon::Error};
}

TNotice NoticeNothingSaved() {
    return {QString(), QString(), TNoticeIcon::None};
}

TNotice NoticeSaveFailed() {
    return {QStringLiteral("Не могу сохранить в файл."), CaptionError, TNoticeIcon::Error};
}

TNotice NoticeImageMissing() {
    return {QStringLiteral("Один из файлов не загружен"), CaptionProgrammer, TNoticeIcon::Warning};
}

TNotice NoticeDifferences(int Count) {
    return {QStringLiteral("Количество обнаруженных ошибок = %1").arg(Count), CaptionError,
            TNoticeIcon::Error};
}

TNotice NoticeImagesMatch() {
    return {QStringLiteral("OK"), CaptionProgrammer, TNoticeIcon::None};
}
