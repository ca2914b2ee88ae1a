#pragma once
// The serial line the device speaks: 57600 bit/s, 8N1, binary, no handshake, DTR and RTS
// held off, ports named "COM%d". Every program that talks to the device sets its port
// up with this, so they all open the line alike.

class TVaCustomComm;

void ConfigureDevicePort(TVaCustomComm& Port);
