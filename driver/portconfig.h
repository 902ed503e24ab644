// What port the library drives: TRAVEK_PORT and TRAVEK_PORT_BASE, from the
// environment or from the file beside the DLL (PORT_CONFIG_FILE; the variable
// wins). Portable: the functions take strings, no system call.
//
//   TRAVEK_PORT       unset or "sim": the simulated port
//                     "*.dll" (any case): a chained port library, by its path
//                     "direct": the processor's I/O instructions
//                     an absolute path ("/dev/parport0"): a ppdev device
//                     "parportN" (N of 1 to 3 digits): the device /dev/parportN
//                     anything else is a configuration fault (ParsePortName)
//   TRAVEK_PORT_BASE  base of a chained or direct port: decimal, or hexadecimal
//                     with 0x; PORT_BASE_DEFAULT when unset
//
// The file holds lines "TRAVEK_PORT=..." and "TRAVEK_PORT_BASE=...", blank
// lines and "#" comments; spaces around the name and the value are ignored.
#ifndef PORTCONFIG_H
#define PORTCONFIG_H

#include <stddef.h>
#include <stdint.h>
#include "portstate.h"

constexpr uint32_t PORT_BASE_DEFAULT = PORT_DATA;
constexpr uint32_t PORT_BASE_MIN = 1;
constexpr uint32_t PORT_BASE_MAX = 0xFFFD;  // base + 2 is still a 16-bit address
constexpr size_t PORT_CONFIG_FILE_MAX = 4096;  // a longer file is refused

// A value as found: `set` false when absent.
struct PortSetting {
    bool set;
    char value[PORTSTATE_TEXT];
    char origin[64];  // "TRAVEK_PORT" or "travek-port.conf, ligne 3", for messages
};

struct PortConfig {
    PortBackendKind backend;
    char target[PORTSTATE_TEXT];  // "sim", "direct", the library or device path
    uint32_t base;
    PortFaultCode fault;           // PORT_FAULT_CONFIG when a value is wrong
    char message[PORTSTATE_TEXT];  // the fault's French text, UTF-8
};

// Parses a base address. False with a French message naming `origin` if the
// text is not a number or out of PORT_BASE_MIN..PORT_BASE_MAX.
bool ParsePortBase(const char* text, const char* origin, uint32_t* base, char* message, size_t size);

// Reads the file's text (len bytes, need not be NUL-terminated) into the two
// settings. False with a message on an unknown name, a line without "=", a
// repeated name, a value too long or a file too long.
bool ParsePortConfigFile(const char* text, size_t len, PortSetting* port, PortSetting* base,
                         char* message, size_t size);

// What a port's name selects: the backend and the target as the library
// keeps it ("parport1" becomes "/dev/parport1").
struct PortName {
    PortBackendKind backend;
    char target[PORTSTATE_TEXT];
};

// The one grammar of a port's name, shared by TRAVEK_PORT, the file beside
// the DLL, the run command's --port (through travek-porthelper --check) and
// native tools. False with a French message naming `origin` and listing the
// accepted forms when `text` is none of them (empty included).
bool ParsePortName(const char* text, const char* origin, PortName* out, char* message, size_t size);

// Decides the configuration from the variables (null when unset) and the
// file's settings (either may be unset). Never fails: a bad value gives
// fault PORT_FAULT_CONFIG and its message, with the backend still the one
// asked for when that much is known.
void ResolvePortConfig(const PortSetting& envPort, const PortSetting& envBase, const PortSetting& filePort,
                       const PortSetting& fileBase, PortConfig* out);

#endif
