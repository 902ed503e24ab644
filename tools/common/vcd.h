// Value Change Dump (IEEE 1364) of the port's lines: one wire per data line
// D0 to D7 and per status input (at its pin level: 0 when pulled low), with a
// timescale of 1 us.
#ifndef VCD_H
#define VCD_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include "portcore.h"

// What the status register read from a moment on.
struct StatusChange {
    int64_t ticks;
    int32_t value;
};

struct VcdTrace {
    const JournalWrite* writes;         // in journal order; writes to other ports are left out
    size_t writeCount;
    const StatusChange* statusChanges;   // in time order
    size_t statusCount;
    int64_t frequency;                   // ticks per second
    int64_t originTicks;                 // time 0 of the dump
    int64_t endTicks;                    // the dump's last time mark, if after the last change
    int initialData;                     // data register before the first write, -1 if unknown
    int32_t initialStatus;               // status register before the first change
    const char* date;                    // text of $date, or null for none
};

// Microseconds from `from` to `to` (0 if `to` is earlier).
int64_t TicksToMicroseconds(int64_t from, int64_t to, int64_t frequency);

// The dump as text. Time 0 holds the initial values ($dumpvars, data lines x
// if unknown). Writes and status changes follow in time order; one that
// changes no line is left out. No change hides another: a change that falls
// in the microsecond of the previous one is put in the next microsecond, so
// that a brief pulse (the 0 before each value) stays visible.
std::string VcdText(const VcdTrace& trace);

// Writes text to a file; false if it cannot be written completely.
bool WriteTextFile(const char* path, const std::string& text);

#endif
