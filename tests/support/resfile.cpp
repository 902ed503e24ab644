#include "resfile.h"

LPCSTR KeyArgument(const ResourceKey& key)
{
    return key.text.empty() ? MAKEINTRESOURCEA(key.ordinal) : key.text.c_str();
}

bool KeyIsOrdinal(const ResourceKey& key, LPCSTR other)
{
    return key.text.empty() && IS_INTRESOURCE(other) && LOWORD(other) == key.ordinal;
}

std::wstring KeyText(const ResourceKey& key)
{
    if (key.text.empty())
        return L"#" + std::to_wstring(key.ordinal);
    return std::wstring(key.text.begin(), key.text.end());
}

static ResourceKey KeyOf(LPCSTR key)
{
    return IS_INTRESOURCE(key) ? ResourceKey{ LOWORD(key), "" } : ResourceKey{ 0, key };
}

static BOOL CALLBACK AddLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR all)
{
    HRSRC found = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data)
        reinterpret_cast<std::vector<Resource>*>(all)->push_back(
            { KeyOf(type), KeyOf(name), language, std::vector<BYTE>(data, data + SizeofResource(module, found)) });
    return TRUE;
}

static BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR all)
{
    return EnumResourceLanguagesA(module, type, name, AddLanguage, all);
}

static BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR all)
{
    return EnumResourceNamesA(module, type, AddName, all);
}

std::vector<Resource> ModuleResources(HMODULE module)
{
    std::vector<Resource> all;
    EnumResourceTypesA(module, AddType, reinterpret_cast<LONG_PTR>(&all));
    return all;
}

std::vector<Resource> FileResources(const std::string& path)
{
    std::vector<Resource> all;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        all = ModuleResources(module);
        FreeLibrary(module);
    }
    return all;
}
