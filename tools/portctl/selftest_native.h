// The self-test as travek-portctl runs it on Linux.
#ifndef SELFTEST_NATIVE_H
#define SELFTEST_NATIVE_H

#include <stdint.h>
#include "args.h"
#include "selftest.h"

// Resolves the port, opens it through the helper beside this program and
// runs the loopback test or the LED walk; returns a SELFTEST_EXIT code.
int RunNativeSelftest(const PortctlArgs& a, const char* name, void (*pause)(int64_t ns), bool (*stopRequested)());

#endif
