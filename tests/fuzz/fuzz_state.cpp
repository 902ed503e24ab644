// The shared state as another process may leave it: validation, repair, the
// journal reader over torn, stale and wrapped entries, the fault text and
// the client slots. The same portable code serves the Windows library.
#include <string.h>
#include <vector>
#include "fuzzstate.h"

constexpr size_t MAX_COPY = 512;
static int SleepCalls = 0;  // sleeps asked for by the current input

static void CountSleep(int)
{
    ++SleepCalls;
}

static int64_t FixedClock()
{
    return 12345;
}

// Every copied entry is whole, in order, in the range read, and the count
// of copied plus dropped entries covers that range exactly.
static void CheckCopy(PortState* s, int64_t from, const JournalWrite* out, size_t n, size_t max,
                      int64_t next, int64_t dropped)
{
    int64_t total = PortStateWriteCount(s);
    int64_t start = from < 0 ? 0 : from > total ? total : from;
    FuzzCheck(n <= max, "more entries copied than asked");
    FuzzCheck(next >= start && next <= total, "next outside the journal");
    FuzzCheck(dropped >= 0, "negative dropped count");
    FuzzCheck(static_cast<int64_t>(n) + dropped == next - start, "copied plus dropped do not cover the range");
    for (size_t i = 0; i < n; ++i) {
        const PortEntry* e = &s->journal[static_cast<uint64_t>(out[i].seq) % PORTSTATE_JOURNAL_CAPACITY];
        FuzzCheck(out[i].seq >= start && out[i].seq < next, "entry outside the range read");
        FuzzCheck(i == 0 || out[i].seq > out[i - 1].seq, "entries out of order");
        FuzzCheck(e->stamp == 2 * out[i].seq + 2, "an unfinished entry was copied");
        FuzzCheck(e->port == out[i].port && e->value == out[i].value, "entry copied wrong");
    }
    FuzzCheck(SleepCalls <= PORTSTATE_TORN_WAIT_MS, "reader waited more than its limit");
}

static void ReadJournal(PortState* s, FuzzedDataProvider& in)
{
    static std::vector<JournalWrite> out(MAX_COPY);
    int64_t w = s->writes;
    int64_t from = in.ConsumeBool() ? s->applied
                                    : static_cast<int64_t>(static_cast<uint64_t>(w) -
                                                           in.ConsumeIntegralInRange<uint64_t>(0, 70000));
    size_t max = in.ConsumeIntegralInRange<size_t>(0, MAX_COPY);
    int64_t next = -1, dropped = -1;
    SleepCalls = 0;
    size_t n = PortStateCopyJournal(s, from, out.data(), max, &next, &dropped, CountSleep);
    CheckCopy(s, from, out.data(), n, max, next, dropped);
}

static void Texts(PortState* s, FuzzedDataProvider& in)
{
    std::string text = in.ConsumeRandomLengthString(600);
    PortStateFault(s, static_cast<PortFaultCode>(in.ConsumeIntegralInRange<uint32_t>(0, 14)), text.c_str(), 1);
    FuzzCheck(memchr(s->faultText, '\0', PORTSTATE_TEXT) != nullptr, "fault text not terminated");
    PortStateSetTarget(s, text.c_str());
    FuzzCheck(memchr(s->target, '\0', PORTSTATE_TEXT) != nullptr, "target not terminated");
    int slot = PortStateTakeClient(s, in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>(), 1);
    FuzzCheck(slot >= -1 && slot < PORTSTATE_CLIENTS, "client slot out of range");
    PortStateFreeClient(s, in.ConsumeBool() ? slot : in.ConsumeIntegral<int>());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    PortState* s = FuzzStateBuild(in);
    bool valid = PortStateValid(s);
    if (!valid || in.ConsumeBool()) {
        FuzzCheck(PortStateRepair(s, FUZZ_FREQUENCY, false) == valid, "repair disagrees with validation");
        FuzzCheck(PortStateValid(s), "repaired state not valid");
    }
    if (PortStateValid(s) && in.ConsumeBool()) {
        int64_t n = PortStateAppend(s, in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint16_t>(), FixedClock);
        FuzzStateTouch(n);
    }
    ReadJournal(s, in);
    Texts(s, in);
    return 0;
}
