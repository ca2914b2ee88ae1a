#pragma once
// The real windows, created by the program's own start-up, with COM1 pointing at a
// simulated device over a pseudo-terminal in a private settings folder. Message boxes are
// recorded; the progress window is watched and closed by the "operator" once the run
// has finished (or when the test says so); a watchdog ends any run that would hang.

#include "programmer/ProgramImage.h"
#include "tests/common/ModalDriver.h"
#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "tools/simdevice/SimDevice.h"
#include "ui/FileDialogs.h"
#include "ui/WindowFrame.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <algorithm>

namespace e2e {

inline const QString Searching = QStringLiteral("Поиск прибора...");
inline const QString Written = QStringLiteral("Данные записаны");
inline const QString WriteFailed = QStringLiteral("Ошибка записи");
inline const QString Read = QStringLiteral("Данные считаны");
inline const QString ReadFailed = QStringLiteral("Ошибка считывания");

inline sim::SimConfig DeviceConfig(const QByteArray& announcement = "!",
                                   const QStringList& faults = {},
                                   sim::SwitchOn mode = sim::SwitchOn::OnOpen) {
    sim::SimConfig c;
    c.switchOn = mode;
    c.switchOnDelayMs = 100;
    c.announcement = announcement;
    for (const QString& r : faults)
        c.faults.rules.push_back(*sim::ParseFaultRule(r, nullptr));
    return c;
}

// A program image whose sectors all differ.
inline QByteArray ProgramBytes(int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 5 + i / 256 + 3) & 0xFF);
    return b;
}

class MainWindowRig {
public:
    explicit MainWindowRig(sim::SimConfig config = DeviceConfig()) : device(std::move(config)) {
        started = device.Start() && home.linkComPort(1, device.SlavePath());
        std::fill(DeviceImage.begin(), DeviceImage.end(), quint8(0));
        DeviceImageValid = false;
        ProgramLoaded = false;
        windows = StartProgram();
        // On screen, and known to be as the operator sees it before clicking anything.
        spinUntil(
            [] {
                const QRect frame = wm::ScreenFrame(formMain);
                return !frame.isEmpty() && OuterFrame(formMain) == frame;
            },
            5000);
    }
    ~MainWindowRig() {
        TFileDialog::SetAnswer({});
        windows.reset();
        device.Stop();
    }

    // Loads `bytes` as the program through the Open button.
    void loadProgram(const QByteArray& bytes, const QString& name = QStringLiteral("prog.bin")) {
        const QString path = files.filePath(name);
        QVERIFY(WriteWholeFile(path, bytes));
        TFileDialog::SetAnswer([path](const TFileDialog&) { return std::optional<QString>(path); });
        formMain->BtnOpenClick();
        TFileDialog::SetAnswer({});
    }

    bool runFinished() const {
        const QString s = formSearsh->stInfo->text();
        return formSearsh->BtnCancel->isEnabled() && formSearsh->Animate1->CommonAVI() == aviNone &&
               (s == Written || s == WriteFailed || s == Read || s == ReadFailed);
    }

    // Clicks a device-run button and plays the operator: the progress window is closed
    // once the run has finished, or earlier when `closeEarly` says so. Returns when the
    // click handler has returned.
    void run(void (TformMain::*click)(), std::function<bool()> closeEarly = {},
             int watchdogMs = 20000) {
        shownAt = QPoint(-1, -1);
        mainAtShow = QRect();
        ModalDriver driver([&](QWidget* w) {
            if (w != formSearsh) {
                w->close();
                return;
            }
            if (shownAt == QPoint(-1, -1)) {
                shownAt = formSearsh->pos();
                mainAtShow = formMain->frameGeometry();
            }
            if (!formSearsh->BtnCancel->isEnabled())
                sawCloseDisabled = true;
            if (formSearsh->BtnCancel->isEnabled() &&
                (runFinished() || (closeEarly && closeEarly())))
                formSearsh->BtnCancel->click();
        });
        driver.setWatchdog(watchdogMs);
        (formMain->*click)();
        timedOut = driver.timedOut;
    }

    // Spins the event loop until `done` or the deadline.
    static bool spinUntil(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QTest::qWait(10);
        return done();
    }

    QList<int> sectorsWritten() const {
        QList<int> sectors;
        for (const QByteArray& f : device.WriteFrames())
            sectors.append(quint8(f[1]) | (quint8(f[2]) << 8));
        return sectors;
    }

    TempConfigHome home;
    sim::SimDevice device;
    MessageRecorder boxes;
    QTemporaryDir files;
    TProgramWindows windows;
    bool started = false;
    bool timedOut = false;
    bool sawCloseDisabled = false;
    QPoint shownAt;
    QRect mainAtShow;
};

} // namespace e2e
