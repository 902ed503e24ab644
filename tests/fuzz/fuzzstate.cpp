#include "fuzzstate.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

constexpr size_t HEADER_BYTES = offsetof(PortState, journal);
constexpr int MAX_ENTRY_OPS = 64;
constexpr int MAX_FIELD_OPS = 8;

static PortState* State = nullptr;            // the state every input is laid over
static uint8_t CleanHeader[HEADER_BYTES];     // the header of a fresh state
static std::vector<uint32_t> Touched;         // journal slots to clear before the next input

void FuzzCheck(bool ok, const char* what)
{
    if (ok)
        return;
    fprintf(stderr, "fuzz finding: %s\n", what);
    abort();
}

void FuzzStateTouch(int64_t seq)
{
    Touched.push_back(static_cast<uint32_t>(static_cast<uint64_t>(seq) % PORTSTATE_JOURNAL_CAPACITY));
}

static void Reset()
{
    if (!State) {
        State = static_cast<PortState*>(calloc(1, sizeof(PortState)));
        PortStateInit(State, FUZZ_FREQUENCY, 0);
        memcpy(CleanHeader, State, HEADER_BYTES);
    }
    memcpy(State, CleanHeader, HEADER_BYTES);
    for (uint32_t i : Touched)
        memset(&State->journal[i], 0, sizeof(PortEntry));
    Touched.clear();
}

// A counter near the interesting values (small, a lap of the journal, the
// limit, below zero), or anything.
static int64_t Counter(FuzzedDataProvider& in)
{
    constexpr int64_t LAP = PORTSTATE_JOURNAL_CAPACITY;
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return in.ConsumeIntegralInRange<int64_t>(0, 1000);
    case 1: return LAP * in.ConsumeIntegralInRange<int64_t>(1, 3) + in.ConsumeIntegralInRange<int64_t>(-300, 300);
    case 2: return PORTSTATE_MAX_WRITES - in.ConsumeIntegralInRange<int64_t>(-4, 4);
    case 3: return -in.ConsumeIntegralInRange<int64_t>(0, 4);
    case 4: return in.ConsumeIntegralInRange<int64_t>(0, 3 * LAP);
    default: return in.ConsumeIntegral<int64_t>();
    }
}

static void BendField(PortState* s, FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: s->writes = Counter(in); break;
    case 1: s->applied = Counter(in); break;
    case 2: s->reads = Counter(in); break;
    case 3: s->frequency = in.ConsumeIntegral<int64_t>(); break;
    case 4: s->helperPid = in.ConsumeIntegral<int32_t>(); break;
    case 5: s->helperState = in.ConsumeIntegralInRange<uint32_t>(0, 7); break;
    case 6: s->helperBeat = in.ConsumeIntegral<int64_t>(); break;
    case 7: {
        int i = in.ConsumeIntegralInRange<int>(0, PORTSTATE_CLIENTS - 1);
        s->clients[i].unixPid = in.ConsumeIntegral<int32_t>();
        s->clients[i].windowsPid = in.ConsumeIntegral<int32_t>();
        break;
    }
    case 8: {  // raw header bytes (magic, version, size, texts...)
        size_t at = in.ConsumeIntegralInRange<size_t>(0, HEADER_BYTES - 1);
        std::vector<uint8_t> b = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 16));
        size_t n = b.size() < HEADER_BYTES - at ? b.size() : HEADER_BYTES - at;
        if (n > 0)
            memcpy(reinterpret_cast<uint8_t*>(s) + at, b.data(), n);
        break;
    }
    default: s->doorbell = in.ConsumeIntegral<uint32_t>(); break;
    }
}

// One journal entry at writes - back: complete, torn, from an older lap, or raw.
static void PlaceEntry(PortState* s, FuzzedDataProvider& in)
{
    int64_t back = in.ConsumeIntegralInRange<int64_t>(1, PORTSTATE_JOURNAL_CAPACITY + 2);
    int64_t n = static_cast<int64_t>(static_cast<uint64_t>(s->writes) - static_cast<uint64_t>(back));
    uint64_t good = 2 * static_cast<uint64_t>(n) + 2;
    PortEntry* e = &s->journal[static_cast<uint64_t>(n) % PORTSTATE_JOURNAL_CAPACITY];
    FuzzStateTouch(n);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: e->stamp = static_cast<int64_t>(good); break;
    case 1: e->stamp = static_cast<int64_t>(good - 1); break;
    case 2: e->stamp = static_cast<int64_t>(good - 2 * PORTSTATE_JOURNAL_CAPACITY); break;
    default: e->stamp = in.ConsumeIntegral<int64_t>(); break;
    }
    e->ticks = in.ConsumeIntegral<int64_t>();
    e->port = in.ConsumeBool() ? PORT_DATA : in.ConsumeIntegral<uint16_t>();
    e->value = in.ConsumeIntegral<uint16_t>();
}

PortState* FuzzStateBuild(FuzzedDataProvider& in)
{
    Reset();
    PortState* s = State;
    s->writes = Counter(in);
    uint64_t behind = in.ConsumeIntegralInRange<uint64_t>(0, 300);
    s->applied = in.ConsumeBool() ? static_cast<int64_t>(static_cast<uint64_t>(s->writes) - behind) : Counter(in);
    int fields = in.ConsumeIntegralInRange<int>(0, MAX_FIELD_OPS);
    for (int i = 0; i < fields; ++i)
        BendField(s, in);
    int entries = in.ConsumeIntegralInRange<int>(0, MAX_ENTRY_OPS);
    for (int i = 0; i < entries && in.remaining_bytes() > 0; ++i)
        PlaceEntry(s, in);
    return s;
}
