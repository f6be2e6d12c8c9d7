// The maker's serial devices (description containing "DORAN"): from a COM name to the
// driver key and back, and giving such a device a new COM number.
#pragma once

unsigned char FindComOfDriver(const wchar_t* driverKey, wchar_t* portName);
unsigned char FindDriverOfCom(unsigned char portNumber, wchar_t* driverKey);
unsigned char MoveDriverToCom(const wchar_t* driverKey, unsigned char newPort);
