// A shared state as another process may leave it, laid out from fuzz input:
// header fields good or bent, client slots, and journal entries around the
// write count (complete, torn, from an older lap, or raw).
#ifndef FUZZSTATE_H
#define FUZZSTATE_H

#include <fuzzer/FuzzedDataProvider.h>
#include "portcore.h"

constexpr int64_t FUZZ_FREQUENCY = 10000000;

// The process's one state, valid and empty before the input's changes.
// Entries touched by the previous input are cleared first.
PortState* FuzzStateBuild(FuzzedDataProvider& in);

// Marks an entry written by the code under test, to be cleared next time.
void FuzzStateTouch(int64_t seq);

// Aborts with a message when `ok` is false: a finding.
void FuzzCheck(bool ok, const char* what);

#endif
