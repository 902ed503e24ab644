// portctl's command line; see args.h.
#include "args.h"
#include <stdlib.h>
#include <string.h>
#include "switches.h"

static bool Fail(std::string* error, const char* message)
{
    *error = message;
    return false;
}

static bool IsHelp(const char* command)
{
    return strcmp(command, "aide") == 0 || strcmp(command, "-h") == 0 ||
           strcmp(command, "--help") == 0 || strcmp(command, "/?") == 0;
}

static bool ParseFollow(int count, const char* const* args, PortctlArgs* out, std::string* error)
{
    out->command = PORTCTL_FOLLOW;
    out->limit = -1;
    if (count > 1)
        return Fail(error, "suivre prend au plus un argument");
    if (count == 1) {
        char* end = nullptr;
        out->limit = strtol(args[0], &end, 10);
        if (*args[0] == '\0' || *end != '\0' || out->limit <= 0)
            return Fail(error, "suivre N : N doit etre un nombre d'ecritures positif");
    }
    return true;
}

bool ParsePortctlArguments(int argc, const char* const* argv, PortctlArgs* out, std::string* error)
{
    *out = PortctlArgs{ PORTCTL_HELP, 0, -1, nullptr };
    if (argc < 2)
        return Fail(error, "il manque la commande");
    const char* command = argv[1];
    int count = argc - 2;
    const char* const* args = argv + 2;
    if (IsHelp(command))
        return true;
    if (strcmp(command, "etat") == 0) {
        out->command = count == 0 ? PORTCTL_SHOW_STATUS : PORTCTL_SET_STATUS;
        return count == 0 || ParseStatusArguments(count, args, &out->status, error);
    }
    if (strcmp(command, "port") == 0) {
        out->command = PORTCTL_SHOW_PORT;
        return count == 0 || Fail(error, "port ne prend pas d'argument");
    }
    if (strcmp(command, "donnees") == 0) {
        out->command = PORTCTL_SHOW_DATA;
        return count == 0 || Fail(error, "donnees ne prend pas d'argument");
    }
    if (strcmp(command, "suivre") == 0)
        return ParseFollow(count, args, out, error);
    if (strcmp(command, "vcd") == 0) {
        out->command = PORTCTL_VCD;
        out->file = count == 1 ? args[0] : nullptr;
        return count == 1 || Fail(error, "vcd prend un nom de fichier (ou -)");
    }
    *error = std::string("commande inconnue : ") + command;
    return false;
}
