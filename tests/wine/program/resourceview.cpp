#include "resourceview.h"
#include <string>

const WORD FRENCH = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
HMODULE Program;

LPCWSTR const TYPE_BITMAP = MAKEINTRESOURCEW(2);
LPCWSTR const TYPE_ICON = MAKEINTRESOURCEW(3);
LPCWSTR const TYPE_MENU = MAKEINTRESOURCEW(4);
LPCWSTR const TYPE_DIALOG = MAKEINTRESOURCEW(5);
LPCWSTR const TYPE_GROUP_ICON = MAKEINTRESOURCEW(14);

Blob FindBlob(LPCWSTR type, LPCWSTR name)
{
    HRSRC info = FindResourceExW(Program, type, name, FRENCH);
    if (!info)
        return Blob{nullptr, 0};
    HGLOBAL loaded = LoadResource(Program, info);
    return Blob{static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(Program, info)};
}

void Resources::SetUpTestSuite()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::string exe(path, n);
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "Travek.exe";
    Program = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(Program, nullptr) << exe << " error " << GetLastError();
}
