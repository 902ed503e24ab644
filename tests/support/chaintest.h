// The chained port library of the tests: a library with the two ordinals of a
// port library that records every call it receives in a named section the
// test reads, and returns the status the test puts there, or, with the
// loopback plug on, the inputs the plug gives for the last data written.
#ifndef CHAINTEST_H
#define CHAINTEST_H

#include <windows.h>
#include <stdint.h>
#include "plug.h"

constexpr wchar_t CHAINTEST_SECTION[] = L"Local\\TravekChainTestLog";
constexpr LONG CHAINTEST_CAPACITY = 1 << 16;  // calls kept; a test reads far fewer
constexpr char CHAINTEST_DLL[] = "chaintest.dll";         // both ordinals
constexpr char CHAINTEST_HALF_DLL[] = "chaintesthalf.dll";  // ordinal 1 only

enum ChainCallKind : uint16_t { CHAIN_READ = 1, CHAIN_WRITE = 2 };

struct ChainCall {
    uint16_t kind;
    uint16_t port;
    uint16_t value;  // written, or returned
    uint16_t reserved;
};

struct ChainLog {
    volatile LONG calls;   // calls recorded; call n in entries[n % CHAINTEST_CAPACITY]
    volatile LONG status;  // what a read of any port returns
    ChainCall entries[CHAINTEST_CAPACITY];
    LoopbackPlug plug;     // when on, reads give the plug's inputs for `data`
    volatile LONG data;    // the last value written to the data register
};

// Maps the log (created zeroed by whichever side comes first).
inline ChainLog* ChainLogAttach()
{
    static ChainLog* log;
    if (log)
        return log;
    HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ChainLog),
                                  CHAINTEST_SECTION);
    log = h ? static_cast<ChainLog*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    return log;
}

#endif
