#pragma once
// A real port (TVaComm, configured as the main window configures it) on COM1, which
// points at a simulated device over a pseudo-terminal in a private settings folder.

#include "comm/VaComm.h"
#include "programmer/DeviceLink.h"
#include "tests/common/TestSupport.h"
#include "tools/simdevice/SimDevice.h"

#include <QDeadlineTimer>
#include <memory>

struct SimLink {
    explicit SimLink(sim::SimConfig config = ManualConfig()) : device(std::move(config)) {
        started = device.start() && home.linkComPort(1, device.slavePath());
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
        device.stop();
    }

    static sim::SimConfig ManualConfig() {
        sim::SimConfig c;
        c.switchOn = sim::SwitchOn::Manual;
        return c;
    }

    // Opens the port, switches the device on and takes its announcement away.
    bool openAndSwitchOn() {
        port.Open();
        device.switchOn();
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
