// Journals made up for the tools' tests: a 10 MHz clock from an arbitrary
// origin, and journal entries on it.
#ifndef TOOLJOURNAL_H
#define TOOLJOURNAL_H

#include <stdint.h>
#include "sharedport.h"

constexpr int64_t FREQ = 10000000;      // 10 MHz: 10 ticks a microsecond
constexpr int64_t ORIGIN = 1000000000;  // an arbitrary counter value as time 0

// The write number seq, `ticks` after ORIGIN.
inline JournalWrite W(int64_t seq, int64_t ticks, uint16_t port, uint16_t value)
{
    JournalWrite w;
    w.seq = seq;
    w.ticks = ORIGIN + ticks;
    w.port = port;
    w.value = value;
    return w;
}

// A data write.
inline JournalWrite At(int64_t seq, int64_t ticks, int value)
{
    return W(seq, ticks, PORT_DATA, static_cast<uint16_t>(value));
}

#endif
