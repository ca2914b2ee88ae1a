#pragma once
// A program's exit codes, written once: its --help lists them from the same table a test
// holds its manual page against.

#include <QList>
#include <QString>

struct TExitCodeMeaning {
    int code = 0;
    QString meaning; // one sentence, unwrapped
};
using TExitCodeMeanings = QList<TExitCodeMeaning>;

// "Коды завершения:" and a line per code: the number in NumberWidth columns after two
// spaces, the meaning wrapped at 80 columns under its own start.
QString ExitCodeHelp(const TExitCodeMeanings& Codes, int NumberWidth);
