// The resources of a module, each with its type, name, language and data, as
// the tests read them from a program file.
#ifndef RESFILE_H
#define RESFILE_H

#include <windows.h>
#include <string>
#include <vector>

// A resource type or name: an ordinal, or a string when text is set.
struct ResourceKey {
    WORD ordinal;
    std::string text;
};

struct Resource {
    ResourceKey type, name;
    WORD language;
    std::vector<BYTE> data;
};

// The key as the A functions take it.
LPCSTR KeyArgument(const ResourceKey& key);
// True if the key is the ordinal that `other` is.
bool KeyIsOrdinal(const ResourceKey& key, LPCSTR other);
// "#5" for an ordinal, the text otherwise.
std::wstring KeyText(const ResourceKey& key);

// Every resource of the module, in the order the system enumerates them.
std::vector<Resource> ModuleResources(HMODULE module);
// Every resource of the program file; empty if it cannot be loaded.
std::vector<Resource> FileResources(const std::string& path);

#endif
