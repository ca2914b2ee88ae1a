#include "tools/render_windows/RunPictures.h"

#include "base/MessageBox.h"
#include "programmer/DeviceRun.h"
#include "programmer/ProgramImage.h"
#include "tools/simdevice/SimDevice.h"
#include "ui/FileDialogs.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

const QList<TPicturedRun> PicturedRuns{
    {QStringLiteral("write"), false, {}},
    {QStringLiteral("write-error"), false, QStringLiteral("W:0:noreply:2")},
    {QStringLiteral("read"), true, {}},
    {QStringLiteral("read-error"), true, QStringLiteral("R:0:noreply:2")},
};

namespace {

// Long enough for the waiting state to be on screen before the device answers.
constexpr int SwitchOnDelayMs = 500;
// A full read takes 128 sectors at 100 ms; far more means the run is stuck.
constexpr int RunLimitMs = 60000;

struct TShownState {
    QString mode;
    QString status;
    TCommonAVI clip;
    bool closeEnabled;
    bool operator==(const TShownState&) const = default;
};

TShownState Shown() {
    return {formSearsh->stRezim->text(), formSearsh->stInfo->text(),
            formSearsh->Animate1->CommonAVI(), formSearsh->BtnCancel->isEnabled()};
}

bool Finished(const TShownState& s) {
    return s.closeEnabled && s.clip == aviNone &&
           (s.status == TextDataWritten || s.status == TextWriteError || s.status == TextDataRead ||
            s.status == TextReadError);
}

// Only in a private settings folder: the operator's own port mappings are not touched.
bool PointComAt(int n, const QString& target) {
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
        return false;
    const QString folder = QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
                               .filePath(QStringLiteral("vendrik/dosdevices"));
    const QString link = QStringLiteral("%1/com%2").arg(folder).arg(n);
    QFile::remove(link);
    return QDir().mkpath(folder) && QFile::link(target, link);
}

// A picture of one moment of a write: sector `position` on its way, the clip on its
// first frame, so that two renderings of it can be compared pixel for pixel.
struct TStill {
    int position;
    QImage image;
};

// One run from its button to the operator's Close.
bool PictureRun(const TPicturedRun& run, QList<TRunPicture>& pictures, TStill* still = nullptr) {
    bool timedOut = false;
    bool first = true;
    TShownState last{};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!formSearsh->isVisible())
            return; // nothing the operator sees
        const TShownState now = Shown();
        if (first || !(now == last)) {
            pictures.append({run.name, now.mode, now.status, formSearsh->grab().toImage()});
            last = now;
            first = false;
        }
        if (still && still->image.isNull() && now.status == TextWriting &&
            formSearsh->ProgressBar1->Position() == still->position) {
            // Stopping shows the clip's first frame, which it shows once a loop anyway.
            formSearsh->Animate1->SetActive(false);
            still->image = formSearsh->grab().toImage();
            formSearsh->Animate1->SetActive(true);
        }
        if (Finished(now) || timedOut) {
            formSearsh->BtnCancel->setEnabled(true);
            formSearsh->BtnCancel->click();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { timedOut = true; });
    poll.start(5);
    watchdog.start(RunLimitMs);
    if (run.read)
        formMain->BtnReadClick();
    else
        formMain->BtnWriteClick();
    return !timedOut && !first && Finished(last);
}

} // namespace

bool LoadProgramThroughOpen(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    TFileDialog::SetAnswer([path](const TFileDialog&) { return std::optional<QString>(path); });
    formMain->BtnOpenClick();
    TFileDialog::SetAnswer({});
    return ProgramLoaded;
}

namespace {

// Runs `runs` against a simulated device of their own each; `still`, if given, is taken
// during the first of them.
bool PictureRuns(const QList<TPicturedRun>& runs, QList<TRunPicture>& pictures, TStill* still,
                 QString* error) {
    formMain->cbPort->setCurrentIndex(0);
    QStringList boxes;
    const MessageBoxHandler previous = SetMessageBoxHandler(
        [&boxes](const QString& text, const QString&, TMessageIcon) { boxes.append(text); });
    bool ok = true;
    for (const TPicturedRun& run : runs) {
        // A device of its own for each run, so a fault meant for one run hits no other.
        sim::SimConfig config;
        config.switchOn = sim::SwitchOn::OnOpen;
        config.switchOnDelayMs = SwitchOnDelayMs;
        if (!run.fault.isEmpty())
            config.faults.rules.push_back(*sim::ParseFaultRule(run.fault, nullptr));
        sim::SimDevice device(config);
        QString why;
        if (!device.Start(&why)) {
            *error = QStringLiteral("cannot start the simulated device: %1").arg(why);
            ok = false;
        } else if (!PointComAt(1, device.SlavePath())) {
            *error = QStringLiteral("cannot point COM1 at the simulated device (is "
                                    "XDG_CONFIG_HOME set to a private folder?)");
            ok = false;
        } else if (!PictureRun(run, pictures, still)) {
            *error = QStringLiteral("the %1 run did not end").arg(run.name);
            ok = false;
        }
        device.Stop();
        still = nullptr;
        if (!ok)
            break;
    }
    SetMessageBoxHandler(previous);
    if (ok && !boxes.isEmpty()) {
        *error = QStringLiteral("a message box came up: %1").arg(boxes.join(u"; "));
        ok = false;
    }
    return ok;
}

} // namespace

bool PictureDeviceRuns(QList<TRunPicture>& pictures, QString* error) {
    return PictureRuns(PicturedRuns, pictures, nullptr, error);
}

bool PictureWriteAtSector(int position, QImage* image, QString* error) {
    QList<TRunPicture> pictures;
    TStill still{position, {}};
    if (!PictureRuns({PicturedRuns.front()}, pictures, &still, error))
        return false;
    if (still.image.isNull()) {
        *error = QStringLiteral("the write never showed sector %1 (a sector sent twice on a "
                                "busy machine?)")
                     .arg(position);
        return false;
    }
    *image = still.image;
    return true;
}
