#include "vcd.h"
#include <stdio.h>
#include "switches.h"

// Identifier codes: D0 to D7, then the status inputs in STATUS_INPUTS order.
static const char WIRE_IDS[] = "!\"#$%&'()*+,-";
constexpr int DATA_WIRES = 8;
constexpr int WIRE_COUNT = DATA_WIRES + INPUT_COUNT;

constexpr uint64_t US_PER_S = 1000000;
// Latest time a dump writes: far beyond any session, with room to count on.
constexpr uint64_t VCD_TIME_MAX = uint64_t(1) << 62;

int64_t TicksToMicroseconds(int64_t from, int64_t to, int64_t frequency)
{
    if (to <= from || frequency <= 0)
        return 0;
    // Unsigned: ticks from a state another process wrote may be anything.
    uint64_t d = static_cast<uint64_t>(to) - static_cast<uint64_t>(from);
    uint64_t f = static_cast<uint64_t>(frequency);
    uint64_t seconds = d / f, rest = d % f;
    if (seconds >= VCD_TIME_MAX / US_PER_S)
        return static_cast<int64_t>(VCD_TIME_MAX);
    uint64_t part = f <= UINT64_MAX / US_PER_S ? rest * US_PER_S / f : rest / (f / US_PER_S);
    return static_cast<int64_t>(seconds * US_PER_S + part);
}

// Levels of all wires: 0, 1, or 'x' (as -1) for unknown.
static void DataLevels(int data, int* levels)
{
    for (int bit = 0; bit < DATA_WIRES; ++bit)
        levels[bit] = data < 0 ? -1 : (data >> bit) & 1;
}

static void StatusLevels(int32_t status, int* levels)
{
    for (int i = 0; i < INPUT_COUNT; ++i)
        levels[DATA_WIRES + i] = InputIsHigh(status, i) ? 1 : 0;
}

static char LevelChar(int level)
{
    return level < 0 ? 'x' : static_cast<char>('0' + level);
}

static void AppendHeader(std::string& out, const VcdTrace& t)
{
    if (t.date) {
        out += "$date\n   ";
        out += t.date;
        out += "\n$end\n";
    }
    out += "$version\n   Travek banc virtuel\n$end\n";
    out += "$comment\n   Port parallele 0x378 : D0 a D7 sur les broches 2 a 9 ; entrees d'etat au "
           "niveau de leur broche (0 = a la masse) : nError 15, Select 13, PaperOut 12, nAck 10, "
           "Busy 11\n$end\n";
    out += "$timescale 1 us $end\n";
    out += "$scope module port $end\n";
    char line[64];
    for (int bit = 0; bit < DATA_WIRES; ++bit) {
        snprintf(line, sizeof(line), "$var wire 1 %c D%d $end\n", WIRE_IDS[bit], bit);
        out += line;
    }
    for (int i = 0; i < INPUT_COUNT; ++i) {
        snprintf(line, sizeof(line), "$var wire 1 %c %s $end\n", WIRE_IDS[DATA_WIRES + i],
                 STATUS_INPUTS[i].name);
        out += line;
    }
    out += "$upscope $end\n$enddefinitions $end\n";
}

// The levels at time 0 (in levels) as the $dumpvars block.
static void AppendInitialLevels(std::string& out, const VcdTrace& t, int* levels)
{
    DataLevels(t.initialData, levels);
    StatusLevels(t.initialStatus, levels);
    out += "#0\n$dumpvars\n";
    for (int w = 0; w < WIRE_COUNT; ++w) {
        out += LevelChar(levels[w]);
        out += WIRE_IDS[w];
        out += '\n';
    }
    out += "$end\n";
}

// A line for each wire whose level next changes; levels takes them.
static std::string ChangedWires(int* levels, const int* next)
{
    std::string changes;
    for (int w = 0; w < WIRE_COUNT; ++w) {
        if (next[w] != levels[w]) {
            changes += LevelChar(next[w]);
            changes += WIRE_IDS[w];
            changes += '\n';
            levels[w] = next[w];
        }
    }
    return changes;
}

std::string VcdText(const VcdTrace& t)
{
    std::string out;
    AppendHeader(out, t);
    int levels[WIRE_COUNT];
    AppendInitialLevels(out, t, levels);

    int64_t last = 0;  // time of the last block written
    size_t wi = 0, si = 0;
    char line[32];
    for (;;) {
        while (wi < t.writeCount && t.writes[wi].port != PORT_DATA)
            ++wi;
        bool haveWrite = wi < t.writeCount;
        bool haveStatus = si < t.statusCount;
        if (!haveWrite && !haveStatus)
            break;
        int next[WIRE_COUNT];
        for (int w = 0; w < WIRE_COUNT; ++w)
            next[w] = levels[w];
        int64_t ticks;
        if (haveWrite && (!haveStatus || t.writes[wi].ticks <= t.statusChanges[si].ticks)) {
            ticks = t.writes[wi].ticks;
            DataLevels(t.writes[wi].value & 0xFF, next);
            ++wi;
        } else {
            ticks = t.statusChanges[si].ticks;
            StatusLevels(t.statusChanges[si].value, next);
            ++si;
        }
        std::string changes = ChangedWires(levels, next);
        if (changes.empty())
            continue;
        int64_t time = TicksToMicroseconds(t.originTicks, ticks, t.frequency);
        if (time <= last)
            time = last + 1;
        snprintf(line, sizeof(line), "#%lld\n", static_cast<long long>(time));
        out += line;
        out += changes;
        last = time;
    }
    int64_t end = TicksToMicroseconds(t.originTicks, t.endTicks, t.frequency);
    if (end > last) {
        snprintf(line, sizeof(line), "#%lld\n", static_cast<long long>(end));
        out += line;
    }
    return out;
}

bool WriteTextFile(const char* path, const std::string& text)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    if (fclose(f) != 0)
        ok = false;
    return ok;
}
