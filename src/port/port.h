// The port driver library INPOUT32.dll, bound at load time and called by
// ordinal: 1 reads a port, 2 writes one.
#ifndef PORT_H
#define PORT_H

constexpr short DATA_PORT = 888;    // 0x378: data lines D0 to D7 on pins 2 to 9
constexpr short STATUS_PORT = 889;  // 0x379: status inputs, bits 3 to 7

extern "C" __declspec(dllimport) short __stdcall PortRead(short port);
extern "C" __declspec(dllimport) void __stdcall PortWrite(short port, short value);

#endif
