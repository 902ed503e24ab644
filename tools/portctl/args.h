// portctl's command line, parsed without touching the port: portable, so that
// it is tested and fuzzed natively too.
#ifndef PORTCTL_ARGS_H
#define PORTCTL_ARGS_H

#include <stdint.h>
#include <string>

enum PortctlCommand {
    PORTCTL_HELP,
    PORTCTL_SHOW_STATUS,
    PORTCTL_SET_STATUS,
    PORTCTL_SHOW_DATA,
    PORTCTL_FOLLOW,
    PORTCTL_VCD,
    PORTCTL_SHOW_PORT,
};

struct PortctlArgs {
    PortctlCommand command;
    int32_t status;    // PORTCTL_SET_STATUS: the value to set
    long limit;        // PORTCTL_FOLLOW: writes to show, -1 for no end
    const char* file;  // PORTCTL_VCD: the file, "-" for the standard output
};

// Parses argv (argv[0] the program). False with a French message in *error
// for arguments that do not make a command.
bool ParsePortctlArguments(int argc, const char* const* argv, PortctlArgs* out, std::string* error);

#endif
