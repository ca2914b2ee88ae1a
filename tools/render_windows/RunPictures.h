#pragma once
// The progress window as device runs really leave it: runs of the program's own windows
// against the simulated device, pictured whenever what the operator sees changes. The
// window's texts are never set here, so every picture is a state the program can be in.

#include <QImage>
#include <QList>
#include <QString>

// One device run to picture: its button and the device's faults during it.
struct TPicturedRun {
    QString name;  // names its pictures: "write", "write-error", ...
    bool read;     // the Read button, or else the Write button
    QString fault; // a rule of the simulated device ("W:0:noreply:2"), or empty
};
// A write and a read, each ending well and each failing at its first sector.
extern const QList<TPicturedRun> PicturedRuns;

struct TRunPicture {
    QString run;    // TPicturedRun::name
    QString mode;   // the mode line, stRezim
    QString status; // the status line, stInfo
    QImage image;
};

// Writes `bytes` to `path` and loads it through the Open button, as the operator would.
bool LoadProgramThroughOpen(const QString& path, const QByteArray& bytes);

// Runs PicturedRuns, in order, on the program's windows (created by the start-up, the
// main window shown, a program loaded, XDG_CONFIG_HOME private: COM1 is pointed at a
// simulated device there). A picture is taken each time the progress window is on
// screen with another mode line, status line, clip or Close button state; the operator's
// Close ends each run once its result is shown. False, with `error` set, when the
// device could not be started, a message box came up or a run did not end in time.
bool PictureDeviceRuns(QList<TRunPicture>& pictures, QString* error);

// The progress window of the first of PicturedRuns (a write that ends well) as it stands
// while the progress bar shows `position` sectors sent, its clip on the first frame: the
// same picture every time on the same fonts. False, with `error` set, as above or when
// the bar never stood there.
bool PictureWriteAtSector(int position, QImage* image, QString* error);
