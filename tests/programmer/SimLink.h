#pragma once
// A real port (TVaComm, configured as the main window configures it) on COM1, which
// points at a simulated device over a pseudo-terminal in a private settings folder.

#include "comm/VaComm.h"
#include "programmer/DeviceLink.h"
#include "tests/common/TestSupport.h"
#include "tools/simdevice/SimDevice.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <memory>

struct SimLink {
    explicit SimLink(sim::SimConfig config = ManualConfig()) : device(std::move(config)) {
        started = device.Start() && home.linkComPort(1, device.SlavePath());
        port.SetBaudrate(br57600);
        port.SetDeviceName(QStringLiteral("COM%d"));
        port.FlowControl()->SetControlDtr(dtrDisabled);
        port.FlowControl()->SetControlRts(rtsDisabled);
        port.SetMonitorEvents(TVaCommEvents{ceRxChar});
        port.SetPortNum(1);
    }
    ~SimLink() {
        try {
            port.Close();
        } catch (...) {
        }
        device.Stop();
    }

    static sim::SimConfig ManualConfig() {
        sim::SimConfig c;
        c.switchOn = sim::SwitchOn::Manual;
        return c;
    }

    // Switched on by hand, with fault rules in the simulator's text form ("W:1:noreply:1").
    static sim::SimConfig WithFaults(const QStringList& rules) {
        sim::SimConfig c = ManualConfig();
        for (const QString& r : rules)
            c.faults.rules.push_back(*sim::ParseFaultRule(r, nullptr));
        return c;
    }

    // Waits until at least `count` bytes wait at the port; false when none came in time.
    bool waitForInput(int count, int ms = 3000) {
        QDeadlineTimer deadline(ms);
        while (port.ReadBufUsed() < count && !deadline.hasExpired())
            DelayWithMessages(2);
        return port.ReadBufUsed() >= count;
    }

    // Opens the port, switches the device on and takes its announcement away.
    bool openAndSwitchOn() {
        port.Open();
        device.SwitchOn();
        QDeadlineTimer deadline(3000);
        while (port.ReadBufUsed() < 1 && !deadline.hasExpired())
            DelayWithMessages(5);
        DelayWithMessages(20); // the whole burst
        QByteArray announcement;
        port.ReadText(announcement);
        return !announcement.isEmpty();
    }

    TempConfigHome home;
    sim::SimDevice device;
    TVaComm port;
    TCommLink line{port}; // the port as the frame protocol and the device runs see it
    bool started = false;
};
