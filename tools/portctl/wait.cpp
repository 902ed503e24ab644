// wait: until the data lines meet a condition, or a time limit. Every data
// write journaled from the start is looked at, so that a value the lines
// held for a moment only (between two writes of an effect) is not missed.
#include <stdio.h>
#include <vector>
#include "commands.h"
#include "switches.h"

constexpr size_t WAIT_BATCH = 1024;  // journal entries looked at per turn

static bool Meets(const DataCondition& c, int data)
{
    return (data & c.mask) == c.value;
}

static void PrintLines(const char* prefix, int data)
{
    printf("%s0x%02X (%d)  %s\n", prefix, data, data, ByteBits(static_cast<unsigned>(data)).c_str());
}

// Looks at the data writes journaled from *cursor on. True with *data when
// one meets the condition.
static bool JournalMeets(const PortctlHost& h, const DataCondition& c, int64_t* cursor,
                         std::vector<JournalWrite>& batch, int* data)
{
    int64_t next = *cursor, dropped = 0;
    size_t n = PortStateCopyJournal(h.state, *cursor, batch.data(), batch.size(), &next, &dropped, h.sleepMs);
    *cursor = next;
    for (size_t i = 0; i < n; ++i) {
        if (batch[i].port == PORT_DATA && Meets(c, batch[i].value & 0xFF)) {
            *data = batch[i].value & 0xFF;
            return true;
        }
    }
    // Entries lost to wrap-around: the register still tells the latest value.
    int now = AtomicLoad(&h.state->data) & 0xFF;
    if (dropped > 0 && Meets(c, now)) {
        *data = now;
        return true;
    }
    return false;
}

int RunWait(const PortctlArgs& a, const PortctlHost& h)
{
    PortState* s = h.state;
    int64_t start = h.now();
    int64_t deadline = a.withinNs < 0 ? INT64_MAX : start + NsToTicks(a.withinNs, h.frequency);
    int64_t cursor = PortStateWriteCount(s);
    int32_t resets = AtomicLoad(&s->resets);
    std::vector<JournalWrite> batch(WAIT_BATCH);
    int data = AtomicLoad(&s->data) & 0xFF;
    bool met = Meets(a.condition, data);
    while (!met && !h.stopRequested()) {
        if (AtomicLoad(&s->resets) != resets || PortStateWriteCount(s) < cursor) {
            resets = AtomicLoad(&s->resets);  // the state was made clean: its journal starts again
            cursor = 0;
        }
        int64_t before = cursor;
        met = JournalMeets(h, a.condition, &cursor, batch, &data);
        if (met || h.now() >= deadline)
            break;
        if (cursor == before)
            h.sleepMs(1);
    }
    int64_t ms = TicksToNs(h.now() - start, h.frequency) / NS_PER_MS;
    if (met) {
        printf("condition remplie après %lld ms : ", static_cast<long long>(ms));
        PrintLines("lignes de données ", data);
        return PORTCTL_EXIT_OK;
    }
    data = AtomicLoad(&s->data) & 0xFF;
    bool wholeMs = a.withinNs % NS_PER_MS == 0;
    if (h.stopRequested())
        printf("attente interrompue après %lld ms : ", static_cast<long long>(ms));
    else
        printf("délai de %lld %s dépassé : ", static_cast<long long>(a.withinNs / (wholeMs ? NS_PER_MS : NS_PER_US)),
               wholeMs ? "ms" : "us");
    PrintLines("les lignes de données valent ", data);
    return PORTCTL_EXIT_FAILED;
}
