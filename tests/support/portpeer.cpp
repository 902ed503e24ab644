// A second process on the simulated port, for the tests: it reaches the port
// both through the shared state and through INPOUT32.dll's ordinals.
//   portpeer status V        set what the status register reads
//   portpeer data            print the data register
//   portpeer write PORT V    write through ordinal 2
//   portpeer read PORT       read through ordinal 1 and print the result
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "portentries.h"
#include "sharedport.h"

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "status") == 0) {
        SimPortSetStatus(SharedPortAttach(), atoi(argv[2]));
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "data") == 0) {
        printf("%ld\n", static_cast<long>(SharedPortAttach()->data));
        return 0;
    }
    HMODULE lib = LoadLibraryA("INPOUT32.dll");
    if (!lib)
        return 3;
    if (argc == 4 && strcmp(argv[1], "write") == 0) {
        PortWriteEntry write = FindPortWrite(lib);
        write(static_cast<short>(atoi(argv[2])), static_cast<short>(atoi(argv[3])));
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "read") == 0) {
        PortReadEntry read = FindPortRead(lib);
        printf("%d\n", read(static_cast<short>(atoi(argv[2]))));
        return 0;
    }
    fprintf(stderr, "usage: portpeer status V | data | write PORT V | read PORT\n");
    return 2;
}
