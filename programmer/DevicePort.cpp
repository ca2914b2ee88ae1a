#include "programmer/DevicePort.h"

#include "comm/VaComm.h"

void ConfigureDevicePort(TVaCustomComm& Port) {
    Port.SetBaudrate(br57600);
    Port.SetDeviceName(QStringLiteral("COM%d"));
    Port.EventChars()->SetEventChar('?');
    Port.EventChars()->SetEofChar('?');
    TVaFlowControl* flow = Port.FlowControl();
    flow->SetOutCtsFlow(false);
    flow->SetOutDsrFlow(false);
    flow->SetXonXoffOut(false);
    flow->SetXonXoffIn(false);
    flow->SetDsrSensitivity(false);
    flow->SetTxContinueOnXoff(false);
    flow->SetControlDtr(dtrDisabled);
    flow->SetControlRts(rtsDisabled);
    Port.SetMonitorEvents(TVaCommEvents{ceRxChar});
}
