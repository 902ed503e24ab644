// The port driver library: two entries, exported by ordinal only (see the .def
// file). They never fail and never show anything.
#include <windows.h>
#include "backend.h"

extern "C" short __stdcall PortRead(short port)
{
    return SelectBackend()->read(static_cast<uint16_t>(port));
}

extern "C" void __stdcall PortWrite(short port, short value)
{
    SelectBackend()->write(static_cast<uint16_t>(port), static_cast<uint16_t>(value));
}

// The backend is chosen at the first call, not here: a chained library must
// not be loaded under the loader's lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
