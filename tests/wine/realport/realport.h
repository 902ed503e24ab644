// The real-port tests' shared pieces (realport_test.cpp, realport_faults_test.cpp):
// their own bounds and the session helpers (controls: res/resource.h).
#ifndef REALPORT_H
#define REALPORT_H

#include <windows.h>
#include <string>
#include <vector>
#include "resource.h"

constexpr DWORD HELPER_END_MS = 8000;  // for a helper without programs to let the port go
constexpr DWORD FAULT_WAIT_MS = 6000;  // for a fault to be said (a busy port takes 2 s)
extern const std::vector<int> LED3_WRITES;  // what a click on "LED 3" writes

// The values from `from` on.
std::vector<int> Tail(const std::vector<int>& v, size_t from);
// No helper of an earlier session holds the emulated ports any more.
bool PortsFree();
bool NotInFixture();
// What `portctl ARGS` prints, and its exit code.
std::string PortctlSays(const std::string& args, int* code = nullptr);

#endif
