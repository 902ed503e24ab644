// The port driver library's two entries, which have ordinals and no names,
// looked up at run time by programs that load the library themselves.
#ifndef PORTENTRIES_H
#define PORTENTRIES_H

#include <windows.h>

constexpr WORD PORT_READ_ORDINAL = 1;   // short PortRead(short port)
constexpr WORD PORT_WRITE_ORDINAL = 2;  // void PortWrite(short port, short value)

typedef short(__stdcall* PortReadEntry)(short port);
typedef void(__stdcall* PortWriteEntry)(short port, short value);

// The entries of a loaded library; null where the library or the entry is missing.
inline PortReadEntry FindPortRead(HMODULE library)
{
    return reinterpret_cast<PortReadEntry>(
        reinterpret_cast<void*>(library ? GetProcAddress(library, MAKEINTRESOURCEA(PORT_READ_ORDINAL)) : nullptr));
}

inline PortWriteEntry FindPortWrite(HMODULE library)
{
    return reinterpret_cast<PortWriteEntry>(
        reinterpret_cast<void*>(library ? GetProcAddress(library, MAKEINTRESOURCEA(PORT_WRITE_ORDINAL)) : nullptr));
}

#endif
