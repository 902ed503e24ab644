// See selftest_win.h. The library reports its faults in the shared state;
// the test watches the count of faults there after each call.
#include "selftest_win.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include "portentries.h"
#include "portlabel.h"
#include "sharedport.h"
#include "stimulus.h"
#include "testport.h"

struct LibraryPort {
    PortReadEntry read;
    PortWriteEntry write;
    PortState* state;
    uint32_t faults;  // the state's fault count when the test began
};

// The folder of this program (and of the library), with its backslash.
static std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return "";
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? "" : s.substr(0, slash + 1);
}

static bool Resolve(const PortctlArgs& a, const std::string& folder, PortConfig* c, std::string* error)
{
    std::string text, path = folder + PORT_CONFIG_FILE;
    bool present = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (present && !ReadWholeFile(path.c_str(), PORT_CONFIG_FILE_MAX + 1, &text, error))
        return false;
    if (!ResolveTestPort(a.port, getenv("TRAVEK_PORT"), getenv("TRAVEK_PORT_BASE"), present ? &text : nullptr,
                         c, error))
        return false;
    *error = TestPortRefusal(*c, PORT_BACKEND_CHAINED, PORT_BACKEND_DIRECT);
    return error->empty();
}

// A fault the library reported since the test began, or "".
static std::string NewFault(LibraryPort* p)
{
    if (AtomicLoad(&p->state->faults) == p->faults)
        return "";
    std::string text = PortFaultText(p->state);
    return text.empty() ? "la bibliothèque du port a signalé un défaut" : text;
}

static bool Write(void* context, uint8_t data, std::string* error)
{
    LibraryPort* p = static_cast<LibraryPort*>(context);
    p->write(static_cast<short>(PORT_DATA), data);
    *error = NewFault(p);
    return error->empty();
}

static bool Read(void* context, int32_t* status, std::string* error)
{
    LibraryPort* p = static_cast<LibraryPort*>(context);
    *status = p->read(static_cast<short>(PORT_STATUS));
    *error = NewFault(p);
    return error->empty();
}

// Loads the library beside this program with TRAVEK_PORT as asked.
static bool Load(const PortctlArgs& a, const std::string& folder, LibraryPort* p, std::string* error)
{
    if (a.port)
        SetEnvironmentVariableA("TRAVEK_PORT", a.port);
    p->state = SharedPortAttach();
    p->faults = AtomicLoad(&p->state->faults);
    std::string path = folder + "INPOUT32.dll";
    HMODULE library = LoadLibraryA(path.c_str());
    p->read = FindPortRead(library);
    p->write = FindPortWrite(library);
    if (!p->read || !p->write) {
        *error = "impossible de charger " + path;
        return false;
    }
    int32_t status = 0;
    return Read(p, &status, error);  // the library chooses its port at the first call
}

// What the session's state says of its port, which loading the library for
// the test replaces: put back afterwards for the programs of the session.
struct PortShown {
    uint32_t backend, base, faults;
    char target[PORTSTATE_TEXT];
};

static PortShown Shown(PortState* s)
{
    PortShown shown = { AtomicLoad(&s->backend), AtomicLoad(&s->base), AtomicLoad(&s->faults), {} };
    for (int i = 0; i < PORTSTATE_TEXT; ++i)
        shown.target[i] = AtomicLoad(&s->target[i]);
    shown.target[PORTSTATE_TEXT - 1] = '\0';
    return shown;
}

static void Restore(PortState* s, const PortShown& shown)
{
    if (AtomicLoad(&s->faults) != shown.faults)
        PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
    PortStateSetTarget(s, shown.target);
    AtomicStore(&s->base, shown.base);
    AtomicStore(&s->backend, shown.backend);
}

int RunWindowsSelftest(const PortctlArgs& a, const char* name, void (*pause)(int64_t ns), bool (*stopRequested)())
{
    std::string folder = ProgramFolder(), error;
    PortConfig c;
    LibraryPort p = {};
    if (!Resolve(a, folder, &c, &error)) {
        fprintf(stderr, "%s : %s\n", name, error.c_str());
        return SELFTEST_EXIT_NO_PORT;
    }
    PortShown shown = Shown(SharedPortAttach());
    int rc = SELFTEST_EXIT_NO_PORT;
    if (Load(a, folder, &p, &error)) {
        TestPort port = { &p, Write, Read, pause, stopRequested };
        std::string label = PortLabel(p.state);
        rc = a.leds ? RunLedWalk(port, name, label, a.stepNs) : RunLoopbackTest(port, name, label);
    } else {
        fprintf(stderr, "%s : %s\n", name, error.c_str());
    }
    Restore(SharedPortAttach(), shown);
    return rc;
}
