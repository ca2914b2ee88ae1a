#include "programmer/DeviceLink.h"

#include "comm/VaComm.h"

void TCommLink::Open(int PortNum) {
    port_.SetMonitorEvents(TVaCommEvents{ceRxChar});
    port_.SetPortNum(PortNum);
    port_.Open();
}

void TCommLink::Close() {
    port_.Close();
}

void TCommLink::Purge() {
    port_.PurgeReadWrite();
}

void TCommLink::Write(const quint8* Data, int Count) {
    port_.WriteBuf(Data, Count);
}

void TCommLink::Wait(int Ms) {
    DelayWithMessages(Ms);
}

QByteArray TCommLink::ReadText() {
    QByteArray text;
    port_.ReadText(text);
    return text;
}

int TCommLink::BytesWaiting() {
    return port_.ReadBufUsed();
}

int TCommLink::ReadBlock(quint8* Data, int Count) {
    return port_.ReadBuf(Data, Count);
}
