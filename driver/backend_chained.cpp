// A chained port library: another library with the same two ordinals and
// convention, loaded by path; every access is journaled here and forwarded
// there with the program's 0x378..0x37A moved to the configured base.
#include "backend.h"
#include <stdio.h>

typedef short(__stdcall* ChainRead)(short port);
typedef void(__stdcall* ChainWrite)(short port, short value);

constexpr WORD ORDINAL_READ = 1;
constexpr WORD ORDINAL_WRITE = 2;
constexpr char MARKER_SECTION[IMAGE_SIZEOF_SHORT_NAME + 1] = ".trvkprt";

// Marks this library's image, so that a copy of it named as the chained
// library is recognised as a loop.
__attribute__((section(".trvkprt"), used)) static const char g_marker[] = "Travek port library";

static PortState* g_state;  // the shared state
static ChainRead g_read;       // ordinal 1 of the chained library
static ChainWrite g_write;     // ordinal 2 of the chained library
static uint32_t g_base;        // the chained port's base

static int16_t ChainedRead(uint16_t port)
{
    int16_t v = g_read(static_cast<short>(MapPort(port, g_base)));
    SharedPortCountRead(g_state, port, v);
    return v;
}

static void ChainedWrite(uint16_t port, uint16_t value)
{
    SimPortWriteValue(g_state, port, value);
    g_write(static_cast<short>(MapPort(port, g_base)), static_cast<short>(value));
}

static const PortBackend g_chained = { ChainedRead, ChainedWrite };

// True if the module carries this library's marker section.
static bool IsOurLibrary(HMODULE m)
{
    if (m == ThisModule())
        return true;
    const BYTE* image = reinterpret_cast<const BYTE*>(m);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_SECTION_HEADER* sec = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        if (memcmp(sec[i].Name, MARKER_SECTION, IMAGE_SIZEOF_SHORT_NAME) == 0)
            return true;
    return false;
}

// The French reason for a LoadLibrary error.
static const char* LoadError(DWORD e)
{
    switch (e) {
    case ERROR_MOD_NOT_FOUND: return "fichier introuvable, ou une bibliothèque dont il dépend manque";
    case ERROR_BAD_EXE_FORMAT: return "ce n'est pas une bibliothèque de la même architecture (32 ou 64 bits)";
    case ERROR_ACCESS_DENIED: return "accès refusé";
    case ERROR_DLL_INIT_FAILED: return "son initialisation a échoué";
    default: return "chargement refusé";
    }
}

static HMODULE Load(PortState* s, const PortConfig& c)
{
    wchar_t path[PORTSTATE_TEXT];
    if (!MultiByteToWideChar(CP_UTF8, 0, c.target, -1, path, PORTSTATE_TEXT))
        path[0] = L'\0';
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);  // never a window
    HMODULE m = path[0] ? LoadLibraryW(path) : nullptr;
    DWORD e = GetLastError();
    SetErrorMode(oldMode);
    if (!m) {
        char text[PORTSTATE_TEXT];
        snprintf(text, sizeof text, "TRAVEK_PORT : impossible de charger « %s » : %s (erreur %lu)", c.target,
                 LoadError(e), e);
        ReportFault(s, PORT_FAULT_LIBRARY_LOAD, text);
    }
    return m;
}

const PortBackend* ChainedBackend(PortState* s, const PortConfig& c)
{
    HMODULE m = Load(s, c);
    if (!m)
        return nullptr;
    char text[PORTSTATE_TEXT];
    if (IsOurLibrary(m)) {
        snprintf(text, sizeof text, "TRAVEK_PORT : « %s » est cette bibliothèque-ci : elle s'appellerait "
                 "elle-même en boucle ; nommez l'autre bibliothèque de port", c.target);
        ReportFault(s, PORT_FAULT_LOOP, text);
        FreeLibrary(m);
        return nullptr;
    }
    FARPROC r = GetProcAddress(m, MAKEINTRESOURCEA(ORDINAL_READ));
    FARPROC w = GetProcAddress(m, MAKEINTRESOURCEA(ORDINAL_WRITE));
    if (!r || !w) {
        snprintf(text, sizeof text, "TRAVEK_PORT : « %s » n'exporte pas l'ordinal %d (%s) : ce n'est pas "
                 "une bibliothèque de port compatible", c.target, r ? ORDINAL_WRITE : ORDINAL_READ,
                 r ? "écriture" : "lecture");
        ReportFault(s, PORT_FAULT_ORDINAL, text);
        FreeLibrary(m);
        return nullptr;
    }
    g_state = s;
    g_base = c.base;
    g_read = reinterpret_cast<ChainRead>(reinterpret_cast<void*>(r));
    g_write = reinterpret_cast<ChainWrite>(reinterpret_cast<void*>(w));
    PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
    return &g_chained;
}
