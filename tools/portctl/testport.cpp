// See testport.h.
#include "testport.h"
#include <stdio.h>
#include <string.h>

static bool Setting(const char* value, const char* origin, PortSetting* out, std::string* error)
{
    *out = PortSetting{};
    if (!value)
        return true;
    if (strlen(value) >= sizeof out->value) {
        *error = std::string(origin) + " : valeur trop longue";
        return false;
    }
    out->set = true;
    snprintf(out->value, sizeof out->value, "%s", value);
    snprintf(out->origin, sizeof out->origin, "%s", origin);
    return true;
}

bool ResolveTestPort(const char* portArg, const char* envPort, const char* envBase, const std::string* fileText,
                     PortConfig* out, std::string* error)
{
    PortSetting port, base, filePort = {}, fileBase = {};
    if (!Setting(portArg ? portArg : envPort, portArg ? "--port" : "TRAVEK_PORT", &port, error) ||
        !Setting(envBase, "TRAVEK_PORT_BASE", &base, error))
        return false;
    char message[PORTSTATE_TEXT];
    if (fileText && !ParsePortConfigFile(fileText->data(), fileText->size(), &filePort, &fileBase, message,
                                         sizeof message)) {
        *error = message;
        return false;
    }
    ResolvePortConfig(port, base, filePort, fileBase, out);
    if (out->fault != PORT_FAULT_NONE) {
        *error = out->message;
        return false;
    }
    return true;
}

std::string TestPortRefusal(const PortConfig& c, PortBackendKind usableA, PortBackendKind usableB)
{
    if (c.backend == usableA || c.backend == usableB)
        return "";
    switch (c.backend) {
    case PORT_BACKEND_SIMULATED:
        return "le port simulé n'a pas de fils à boucler : nommez le port réel avec --port ou TRAVEK_PORT";
    case PORT_BACKEND_PPDEV:
        return std::string("« ") + c.target + " » : un périphérique ppdev se teste depuis Linux, "
               "avec travek-portctl selftest";
    default:
        return std::string("« ") + c.target + " » : une bibliothèque de port ou l'accès direct ne "
               "servent que sous Windows ; ici, nommez un périphérique ppdev (/dev/parportN)";
    }
}
