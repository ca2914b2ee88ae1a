#include "cli/Progress.h"

#include "platform/VisibleText.h"

#include <cstdio>

QString FormatDuration(qint64 Ms) {
    const qint64 s = qMax<qint64>(Ms, 0) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString ProgressLine(int Done, int Total, qint64 ElapsedMs) {
    const int percent = Total > 0 ? int(qint64(Done) * 100 / Total) : 100;
    QString line = QStringLiteral("Сектор %1 из %2  %3%  прошло %4")
                       .arg(Done)
                       .arg(Total)
                       .arg(percent)
                       .arg(FormatDuration(ElapsedMs));
    // Nothing to go on before the first sector has passed.
    if (Done > 0 && Done <= Total)
        line +=
            QStringLiteral("  осталось %1").arg(FormatDuration(ElapsedMs * (Total - Done) / Done));
    return line;
}

TProgressReport::TProgressReport(bool Terminal, bool Quiet) : terminal_(Terminal), quiet_(Quiet) {}

void TProgressReport::Put(const QString& Text, bool Rewrite) {
    if (quiet_)
        return;
    // Stage lines carry device names.
    const QByteArray utf8 = VisibleText(Text).toUtf8();
    if (Rewrite) {
        // Back to the start of the line and clear it, then the new text without a newline.
        std::fprintf(stderr, "\r\033[K%s", utf8.constData());
        lineOpen_ = true;
    } else {
        if (lineOpen_)
            std::fputc('\n', stderr);
        lineOpen_ = false;
        std::fprintf(stderr, "%s\n", utf8.constData());
    }
    std::fflush(stderr);
}

void TProgressReport::Stage(const QString& Text) {
    Put(Text, false);
}

void TProgressReport::Start(int Total) {
    total_ = Total;
    lastTenth_ = -1;
    clock_.start();
    Sector(0);
}

void TProgressReport::Sector(int Done) {
    if (!clock_.isValid())
        return;
    const QString line = ProgressLine(Done, total_, clock_.elapsed());
    if (terminal_) {
        Put(line, true);
        return;
    }
    const int tenth = total_ > 0 ? Done * 10 / total_ : 10;
    if (tenth != lastTenth_) {
        lastTenth_ = tenth;
        Put(line, false);
    }
}

void TProgressReport::End() {
    if (lineOpen_ && !quiet_) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    lineOpen_ = false;
    clock_.invalidate();
}
