// The library's configuration: TRAVEK_PORT, TRAVEK_PORT_BASE and the file
// beside the DLL, through the portable parser the library uses.
#include <string.h>
#include <string>
#include "fuzzstate.h"
#include "portconfig.h"

constexpr size_t MESSAGE = 160;  // a short buffer: messages must be cut, not overrun

static void FromEnvironment(FuzzedDataProvider& in, PortSetting* s, const char* name)
{
    *s = PortSetting{};
    if (!in.ConsumeBool())
        return;
    std::string v = in.ConsumeRandomLengthString(sizeof s->value - 1);
    s->set = true;
    memcpy(s->value, v.c_str(), v.size() + 1);
    strcpy(s->origin, name);
}

static bool Terminated(const char* text, size_t size)
{
    return memchr(text, '\0', size) != nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    PortSetting envPort, envBase, filePort, fileBase;
    FromEnvironment(in, &envPort, "TRAVEK_PORT");
    FromEnvironment(in, &envBase, "TRAVEK_PORT_BASE");
    std::string base = in.ConsumeRandomLengthString(40);
    uint32_t value = 0;
    char message[MESSAGE];
    if (ParsePortBase(base.c_str(), "TRAVEK_PORT_BASE", &value, message, sizeof message))
        FuzzCheck(value >= PORT_BASE_MIN && value <= PORT_BASE_MAX, "base out of range accepted");
    else
        FuzzCheck(Terminated(message, sizeof message), "base message not terminated");
    std::vector<char> file = in.ConsumeRemainingBytes<char>();
    bool fileOk = ParsePortConfigFile(file.data(), file.size(), &filePort, &fileBase, message, sizeof message);
    if (!fileOk) {
        FuzzCheck(Terminated(message, sizeof message), "file message not terminated");
        filePort = fileBase = PortSetting{};
    }
    PortConfig c;
    ResolvePortConfig(envPort, envBase, filePort, fileBase, &c);
    FuzzCheck(Terminated(c.target, sizeof c.target) && Terminated(c.message, sizeof c.message),
              "configuration text not terminated");
    if (c.fault == PORT_FAULT_NONE) {
        FuzzCheck(c.base >= PORT_BASE_MIN && c.base <= PORT_BASE_MAX, "base out of range in use");
        PortName name;
        char m[MESSAGE];
        bool named = ParsePortName(c.target, "TRAVEK_PORT", &name, m, sizeof m);
        FuzzCheck(named && c.backend == name.backend && strcmp(name.target, c.target) == 0,
                  "backend differs from target");
    } else {
        FuzzCheck(c.fault == PORT_FAULT_CONFIG && c.message[0] != '\0', "configuration fault without message");
    }
    return 0;
}
