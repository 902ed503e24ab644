// The Windows side of the raw Linux system calls (see unixcall.h): whether
// this process runs under Wine at all. The calls themselves are in unixsys.cpp.
#include "unixcall.h"
#include <windows.h>

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
