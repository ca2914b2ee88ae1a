#pragma once
// The progress of a transfer on standard error: on a terminal one line that rewrites
// itself (sector, percent, time elapsed, time left), otherwise a plain line at every
// tenth of the way, so a log stays short.

#include <QElapsedTimer>
#include <QString>

// "Сектор 12 из 32  37%  прошло 0:04  осталось 0:06": Done sectors finished out of
// Total, ElapsedMs since the first; the time left assumes the pace so far.
QString ProgressLine(int Done, int Total, qint64 ElapsedMs);
// "m:ss", or "h:mm:ss" from an hour on.
QString FormatDuration(qint64 Ms);

class TProgressReport {
public:
    TProgressReport(bool Terminal, bool Quiet);
    // A line of its own (the port is open, the transfer's result).
    void Stage(const QString& Text);
    // The transfer begins: times count from here.
    void Start(int Total);
    void Sector(int Done);
    // The updating line, if any, is finished off.
    void End();

private:
    void Put(const QString& Text, bool Rewrite);
    bool terminal_;
    bool quiet_;
    bool lineOpen_ = false;
    int total_ = 0;
    int lastTenth_ = -1;
    QElapsedTimer clock_;
};
