// selftest from Linux: the port that --port, TRAVEK_PORT or the file beside
// the program names, read with the library's grammar (portconfig.h), tested
// through the native helper and the bridge (bridgeport.h).
#include "selftest_native.h"
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include "bridgeport.h"
#include "testport.h"
#include "portlabel.h"
#include "stimulus.h"

// This program's folder, with its trailing slash ("" if unknown).
static std::string ProgramFolder()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    path[n] = '\0';
    char* slash = strrchr(path, '/');
    return slash ? std::string(path, static_cast<size_t>(slash + 1 - path)) : "";
}

// The file beside the program, as the library reads the one beside it;
// *present false when there is none.
static bool FileText(const std::string& folder, std::string* text, bool* present, std::string* error)
{
    std::string path = folder + PORT_CONFIG_FILE;
    *present = !folder.empty() && access(path.c_str(), F_OK) == 0;
    return !*present || ReadWholeFile(path.c_str(), PORT_CONFIG_FILE_MAX + 1, text, error);
}

static bool ResolveDevice(const char* portArg, const std::string& folder, std::string* device, std::string* error)
{
    std::string text;
    bool present = false;
    PortConfig c;
    if (!FileText(folder, &text, &present, error) ||
        !ResolveTestPort(portArg, getenv("TRAVEK_PORT"), getenv("TRAVEK_PORT_BASE"), present ? &text : nullptr,
                         &c, error))
        return false;
    *error = TestPortRefusal(c, PORT_BACKEND_PPDEV, PORT_BACKEND_PPDEV);
    if (!error->empty())
        return false;
    if (c.target[0] != '/') {
        *error = std::string("« ") + c.target + " » n'est pas le chemin d'un périphérique ppdev "
                 "(par exemple /dev/parport0)";
        return false;
    }
    *device = c.target;
    return true;
}

static bool Write(void* context, uint8_t data, std::string* error)
{
    return BridgePortWrite(static_cast<BridgePort*>(context), data, error);
}

static bool Read(void* context, int32_t* status, std::string* error)
{
    return BridgePortRead(static_cast<BridgePort*>(context), status, error);
}

int RunNativeSelftest(const PortctlArgs& a, const char* name, void (*pause)(int64_t ns), bool (*stopRequested)())
{
    std::string folder = ProgramFolder(), device, error;
    BridgePort p;
    if (!ResolveDevice(a.port, folder, &device, &error) ||
        !OpenBridgePort(&p, device.c_str(), (folder + PORTHELPER_NAME).c_str(), &error)) {
        fprintf(stderr, "%s : %s\n", name, error.c_str());
        return SELFTEST_EXIT_NO_PORT;
    }
    TestPort port = { &p, Write, Read, pause, stopRequested };
    std::string label = PortLabel(p.session.state);
    int rc = a.leds ? RunLedWalk(port, name, label, a.stepNs) : RunLoopbackTest(port, name, label);
    CloseBridgePort(&p);
    return rc;
}
