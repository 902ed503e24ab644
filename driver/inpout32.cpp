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

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SelectBackend();
    return TRUE;
}
