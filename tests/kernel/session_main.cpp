// kernel_session: see session.h.
//   kernel_session wire ID NAME HELPER DEVICE
//   kernel_session held late|early|quit|killed|stopped NAME HELPER DEVICE
//   kernel_session fault nodevice|noport|denied|held|removed NAME HELPER DEVICE [HOOK]
//   kernel_session claim DEVICE     exits 0 if the port can be claimed within 2 s
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "session.h"

constexpr int CLAIM_LIMIT_MS = 2000;

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "wire") == 0)
        return RunWire(atoi(argv[2]), argv[3], argv[4], argv[5]);
    if (argc == 6 && strcmp(argv[1], "held") == 0)
        return RunHeld(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 3 && strcmp(argv[1], "claim") == 0)
        return ClaimOnce(argv[2], CLAIM_LIMIT_MS) == 0 ? 0 : 1;
    if ((argc == 6 || argc == 7) && strcmp(argv[1], "fault") == 0)
        return RunFault(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : "");
    fprintf(stderr, "usage: kernel_session wire ID NAME HELPER DEVICE\n"
                    "       kernel_session held CASE NAME HELPER DEVICE\n"
                    "       kernel_session fault CASE NAME HELPER DEVICE [HOOK]\n"
                    "       kernel_session claim DEVICE\n");
    return 2;
}
