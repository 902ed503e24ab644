// The five status inputs of the port, the switches that pull them to ground,
// and the status register value they give.
#ifndef SWITCHES_H
#define SWITCHES_H

#include <stdint.h>
#include <string>

// The inputs in the order the tools show them.
enum StatusInput { INPUT_NERROR, INPUT_SELECT, INPUT_PAPEROUT, INPUT_NACK, INPUT_BUSY, INPUT_COUNT };

struct StatusInputInfo {
    const char* name;  // signal name, as written on the switches
    int pin;           // connector pin (DB-25)
    int bit;           // bit of the status register
    bool inverted;     // the register shows the pin inverted (Busy)
};

extern const StatusInputInfo STATUS_INPUTS[INPUT_COUNT];

// Bits 0 to 2 have no input pin and read 1; with every input high the register reads 127.
constexpr int32_t STATUS_RELEASED = 0x7F;

// Status register for a set of switches: bit i of pulledLow set means input i
// is held at ground.
int32_t StatusFromSwitches(unsigned pulledLow);

// The switches a status value shows pulled low (from bits 3 to 7 only).
unsigned SwitchesFromStatus(int32_t status);

// Level of input i's pin in a status value: true for high.
bool InputIsHigh(int32_t status, int input);

// Input named `name` (case-insensitive), or -1.
int FindStatusInput(const char* name);

// The sensor lamp (1 to 5) of the test bench that a status value lights, or 0.
int SensorForStatus(int32_t status);

// A whole argument as a number, decimal or hexadecimal with 0x; false if
// any of it is not.
bool ParseWholeNumber(const char* text, long* out);

// Parses the arguments of "set the status": either one number (decimal, or
// hexadecimal with 0x, -32768 to 65535) or switch names, each pulled low, the
// others released. On failure returns false with a message in *error.
bool ParseStatusArguments(int count, const char* const* args, int32_t* value, std::string* error);

// "0111 1111": bits 7 to 0 of the low byte.
std::string ByteBits(unsigned value);

#endif
