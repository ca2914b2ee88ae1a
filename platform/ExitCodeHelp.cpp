#include "platform/ExitCodeHelp.h"

#include <QStringList>

namespace {
constexpr int HelpColumns = 80;
}

QString ExitCodeHelp(const TExitCodeMeanings& Codes, int NumberWidth) {
    QString text = QStringLiteral("Коды завершения:\n");
    const QString indent(2 + NumberWidth, u' ');
    for (const TExitCodeMeaning& c : Codes) {
        QString line = QStringLiteral("  ") + QString::number(c.code).leftJustified(NumberWidth);
        bool first = true;
        for (const QString& word : c.meaning.split(u' ', Qt::SkipEmptyParts)) {
            if (!first && line.size() + 1 + word.size() > HelpColumns) {
                text += line + u'\n';
                line = indent;
                first = true;
            }
            line += (first ? QString() : QStringLiteral(" ")) + word;
            first = false;
        }
        text += line + u'\n';
    }
    return text;
}
