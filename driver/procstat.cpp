// See procstat.h.
#include "procstat.h"
#include <string.h>

constexpr int STAT_FIELDS_TO_START = 19;  // fields from the state (3) to the start time (22)

// Reads an unsigned number in `base` from [*p, end); false if none.
static bool Number(const char** p, const char* end, int base, uint64_t* out)
{
    uint64_t v = 0;
    const char* q = *p;
    for (; q < end; ++q) {
        char c = *q;
        int d = c >= '0' && c <= '9' ? c - '0' : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (q == *p)
        return false;
    *p = q;
    *out = v;
    return true;
}

static bool Skip(const char** p, const char* end, char c)
{
    if (*p >= end || **p != c)
        return false;
    ++*p;
    return true;
}

bool ParseProcStat(const char* text, size_t len, char* state, uint64_t* startTime)
{
    // The name, in parentheses, may hold spaces and parentheses itself.
    const char* close = nullptr;
    for (size_t i = 0; i < len; ++i)
        if (text[i] == ')')
            close = text + i;
    const char* end = text + len;
    if (!close || end - close < 4 || close[1] != ' ')
        return false;
    const char* p = close + 2;
    *state = *p;
    for (int field = 0; field < STAT_FIELDS_TO_START; ++field) {
        while (p < end && *p != ' ')
            ++p;
        if (!Skip(&p, end, ' '))
            return false;
    }
    return Number(&p, end, 10, startTime);
}

uint32_t ProcIdentityOf(uint64_t startTime)
{
    uint32_t folded = static_cast<uint32_t>(startTime ^ (startTime >> 32));
    return folded ? folded : 1;
}

uint32_t ProcIdentityFromStat(const char* text, size_t len)
{
    char state = 0;
    uint64_t start = 0;
    if (!ParseProcStat(text, len, &state, &start) || state == 'Z' || state == 'X')
        return 0;
    return ProcIdentityOf(start);
}

bool ParseMapsLine(const char* line, size_t len, uint64_t* start, uint32_t* major, uint32_t* minor,
                   uint64_t* inode)
{
    const char* p = line;
    const char* end = line + len;
    uint64_t skip = 0, maj = 0, min = 0;
    if (!Number(&p, end, 16, start) || !Skip(&p, end, '-') || !Number(&p, end, 16, &skip) ||
        !Skip(&p, end, ' '))
        return false;
    while (p < end && *p != ' ')  // permissions
        ++p;
    if (!Skip(&p, end, ' ') || !Number(&p, end, 16, &skip) || !Skip(&p, end, ' ') ||
        !Number(&p, end, 16, &maj) || !Skip(&p, end, ':') || !Number(&p, end, 16, &min) ||
        !Skip(&p, end, ' ') || !Number(&p, end, 10, inode))
        return false;
    *major = static_cast<uint32_t>(maj);
    *minor = static_cast<uint32_t>(min);
    return true;
}

uint32_t DeviceMajor(uint64_t dev)
{
    return static_cast<uint32_t>(((dev >> 8) & 0xFFF) | ((dev >> 32) & ~uint64_t(0xFFF)));
}

uint32_t DeviceMinor(uint64_t dev)
{
    return static_cast<uint32_t>((dev & 0xFF) | ((dev >> 12) & ~uint64_t(0xFF)));
}
