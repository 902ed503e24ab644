// Chooses the backend once per process from the configuration, and reports
// faults on the console and in the shared state.
#include "backend.h"
#include "helperstart.h"
#include <stdio.h>
#include "unixcall.h"

constexpr char CONSOLE_PREFIX[] = "Travek, port parallèle : ";
constexpr int SELECT_NONE = 0, SELECT_BUSY = 1, SELECT_DONE = 2;

static const PortBackend* g_backend;            // the chosen backend, once chosen
static LONG g_selecting;                        // SELECT_NONE, SELECT_BUSY or SELECT_DONE
static uint32_t g_echoedFaults;                 // the shared `faults` count last said on the console

HMODULE ThisModule()
{
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &m);
    return m;
}

bool ThisFolder(wchar_t* out, DWORD size)
{
    DWORD n = GetModuleFileNameW(ThisModule(), out, size);
    if (n == 0 || n >= size)
        return false;
    wchar_t* slash = nullptr;
    for (wchar_t* p = out; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            slash = p;
    if (!slash)
        return false;
    slash[1] = L'\0';
    return true;
}

// Writes a UTF-8 line on stderr: wide to a console, bytes to a file or pipe.
static void Say(const char* text)
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (!err || err == INVALID_HANDLE_VALUE)
        return;
    char line[PORTSTATE_TEXT * 2];
    int n = snprintf(line, sizeof line, "%s%s\n", CONSOLE_PREFIX, text);
    if (n <= 0)
        return;
    if (n >= static_cast<int>(sizeof line))
        n = sizeof line - 1;
    DWORD mode, done;
    wchar_t wide[PORTSTATE_TEXT * 2];
    int w = GetConsoleMode(err, &mode) ? MultiByteToWideChar(CP_UTF8, 0, line, n, wide, PORTSTATE_TEXT * 2) : 0;
    if (w > 0)
        WriteConsoleW(err, wide, static_cast<DWORD>(w), &done, nullptr);
    else
        WriteFile(err, line, static_cast<DWORD>(n), &done, nullptr);
}

void ReportFault(PortState* s, PortFaultCode code, const char* text)
{
    PortStateFault(s, code, text, SharedPortNow());
    g_echoedFaults = AtomicLoad(&s->faults);
    Say(text);
    NotifyFaultLater(code, text);
}

void SayLine(const char* text)
{
    Say(text);
}

void EchoNewFault(PortState* s)
{
    uint32_t faults = AtomicLoad(&s->faults);
    if (faults == g_echoedFaults)
        return;
    g_echoedFaults = faults;
    if (AtomicLoad(&s->fault) == PORT_FAULT_NONE)
        return;
    char text[PORTSTATE_TEXT];
    for (int i = 0; i < PORTSTATE_TEXT; ++i)
        text[i] = AtomicLoad(&s->faultText[i]);
    text[PORTSTATE_TEXT - 1] = '\0';
    Say(text);
}

// One variable into a setting (UTF-8); a value too long to keep is a fault.
static void ReadVariable(const wchar_t* name, const char* origin, PortSetting* out, PortConfig* tooLong)
{
    *out = PortSetting{};
    wchar_t value[PORTSTATE_TEXT];
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableW(name, value, PORTSTATE_TEXT);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return;
    snprintf(out->origin, sizeof out->origin, "%s", origin);
    out->set = true;
    int bytes = n < PORTSTATE_TEXT ? WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(n), out->value,
                                                         PORTSTATE_TEXT - 1, nullptr, nullptr) : 0;
    if (n > 0 && bytes <= 0) {
        tooLong->fault = PORT_FAULT_CONFIG;
        snprintf(tooLong->message, sizeof tooLong->message, "%s : valeur trop longue", origin);
        bytes = 0;
    }
    out->value[bytes] = '\0';
}

// The file beside the DLL, if any, into its two settings.
static void ReadConfigFile(PortSetting* port, PortSetting* base, PortConfig* bad)
{
    *port = PortSetting{};
    *base = PortSetting{};
    wchar_t path[MAX_PATH + 32];
    if (!ThisFolder(path, MAX_PATH))
        return;
    MultiByteToWideChar(CP_UTF8, 0, PORT_CONFIG_FILE, -1, path + lstrlenW(path), 32);
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    char text[PORT_CONFIG_FILE_MAX + 1];
    DWORD got = 0;
    ReadFile(f, text, sizeof text, &got, nullptr);
    CloseHandle(f);
    if (!ParsePortConfigFile(text, got, port, base, bad->message, sizeof bad->message))
        bad->fault = PORT_FAULT_CONFIG;
}

static void LoadConfig(PortConfig* c)
{
    PortConfig bad = {};
    PortSetting envPort, envBase, filePort, fileBase;
    ReadVariable(L"TRAVEK_PORT", "TRAVEK_PORT", &envPort, &bad);
    ReadVariable(L"TRAVEK_PORT_BASE", "TRAVEK_PORT_BASE", &envBase, &bad);
    ReadConfigFile(&filePort, &fileBase, &bad);
    ResolvePortConfig(envPort, envBase, filePort, fileBase, c);
    if (bad.fault != PORT_FAULT_NONE && c->fault == PORT_FAULT_NONE) {
        c->fault = bad.fault;
        lstrcpynA(c->message, bad.message, sizeof c->message);
    }
}

// Says in the state what this process asked for.
static void Publish(PortState* s, const PortConfig& c)
{
    AtomicStore(&s->base, c.base);
    PortStateSetTarget(s, c.target);
    if (c.backend != PORT_BACKEND_PPDEV)  // the ppdev backend publishes itself once its bridge is ready
        AtomicStore(&s->backend, uint32_t(c.backend));
}

// Without a client slot the helper does not count this process: said once.
static void SayNoClientSlot(PortState* s)
{
    if (!UnderWine() || SharedPortAttachError() || SharedPortClientSlot() >= 0)
        return;
    char text[PORTSTATE_TEXT];
    snprintf(text, sizeof text, "déjà %d programmes utilisent le port : celui-ci n'y est pas compté "
             "(fermez-en un) ; le programme d'aide peut s'arrêter sans l'attendre", PORTSTATE_CLIENTS);
    ReportFault(s, PORT_FAULT_CLIENTS_FULL, text);
}

static const PortBackend* Choose()
{
    PortState* s = SharedPortAttach();
    g_echoedFaults = AtomicLoad(&s->faults);  // faults of earlier sessions are not this program's to say
    PortConfig c;
    LoadConfig(&c);
    if (const char* e = SharedPortAttachError()) {
        char text[PORTSTATE_TEXT];
        snprintf(text, sizeof text, "état partagé du port inaccessible, port privé à ce programme : %s", e);
        ReportFault(s, PORT_FAULT_BRIDGE_FILES, text);
    }
    Publish(s, c);
    if (c.fault != PORT_FAULT_NONE) {
        ReportFault(s, c.fault, c.message);
        return FaultedBackend(s);
    }
    const PortBackend* b = nullptr;
    switch (c.backend) {
    case PORT_BACKEND_SIMULATED:
        if (!SharedPortAttachError())
            PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
        return SimulatedBackend(s);
    case PORT_BACKEND_CHAINED: b = ChainedBackend(s, c); break;
    case PORT_BACKEND_DIRECT: b = DirectBackend(s, c); break;
    case PORT_BACKEND_PPDEV:
        b = PpdevBackend(s, c);
        SayNoClientSlot(s);
        break;
    }
    return b ? b : FaultedBackend(s);
}

const PortBackend* SelectBackend()
{
    const PortBackend* b = AtomicLoad(&g_backend);
    if (b)
        return b;
    if (InterlockedCompareExchange(&g_selecting, SELECT_BUSY, SELECT_NONE) == SELECT_NONE) {
        AtomicStore(&g_backend, Choose());
        InterlockedExchange(&g_selecting, SELECT_DONE);
    }
    while (!(b = AtomicLoad(&g_backend)))
        Sleep(0);  // another thread is choosing; it takes a few milliseconds at most
    return b;
}
