// The self-test as portctl.exe runs it on Windows: through INPOUT32.dll
// beside it, as the program reaches the port, on a chained port library or
// the processor's I/O instructions.
#ifndef SELFTEST_WIN_H
#define SELFTEST_WIN_H

#include <stdint.h>
#include "args.h"
#include "selftest.h"

// Resolves the port, loads the library with it and runs the loopback test
// or the LED walk; returns a SELFTEST_EXIT code.
int RunWindowsSelftest(const PortctlArgs& a, const char* name, void (*pause)(int64_t ns), bool (*stopRequested)());

#endif
