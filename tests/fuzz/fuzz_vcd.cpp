// The VCD export over arbitrary journals and status changes: the dump must
// pass the tests' strict reader and end on the last data and status values.
#include <limits.h>
#include <vector>
#include "fuzzstate.h"
#include "switches.h"
#include "vcd.h"
#include "vcdcheck.h"

constexpr size_t MAX_WRITES = 300, MAX_STATUS = 60;

static int64_t Ticks(FuzzedDataProvider& in, int64_t previous)
{
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
        return in.ConsumeIntegral<int64_t>();
    // Journal order: never back (unless the clock wraps).
    return static_cast<int64_t>(static_cast<uint64_t>(previous) + in.ConsumeIntegralInRange<uint64_t>(0, 100000));
}

static int64_t Frequency(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return FUZZ_FREQUENCY;
    case 1: return 1;
    case 2: return 1000000;
    default: return in.ConsumeIntegral<int64_t>();
    }
}

// The levels the dump ends on match the last write and the last status.
static void CheckEnd(const VcdFile& f, const VcdTrace& t)
{
    std::map<std::string, char> levels = VcdLevelsAt(f, INT64_MAX);
    int data = t.initialData;
    for (size_t i = 0; i < t.writeCount; ++i)
        if (t.writes[i].port == PORT_DATA)
            data = t.writes[i].value & 0xFF;
    int32_t status = t.statusCount ? t.statusChanges[t.statusCount - 1].value : t.initialStatus;
    for (int bit = 0; bit < 8 && data >= 0; ++bit)
        FuzzCheck(levels[VcdIdOf(f, "D" + std::to_string(bit))] == '0' + ((data >> bit) & 1), "data line ends wrong");
    for (int i = 0; i < INPUT_COUNT; ++i)
        FuzzCheck(levels[VcdIdOf(f, STATUS_INPUTS[i].name)] == (InputIsHigh(status, i) ? '1' : '0'),
                  "status line ends wrong");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    VcdTrace t = {};
    t.frequency = Frequency(in);
    t.originTicks = in.ConsumeBool() ? 0 : in.ConsumeIntegral<int64_t>();
    t.endTicks = in.ConsumeIntegral<int64_t>();
    t.initialData = in.ConsumeBool() ? -1 : in.ConsumeIntegralInRange<int>(0, 255);
    t.initialStatus = in.ConsumeIntegral<int32_t>();
    t.date = in.ConsumeBool() ? "Wed Dec  9 04:00:00 2026" : nullptr;
    std::vector<JournalWrite> writes(in.ConsumeIntegralInRange<size_t>(0, MAX_WRITES));
    int64_t ticks = t.originTicks;
    for (size_t i = 0; i < writes.size(); ++i) {
        ticks = writes[i].ticks = Ticks(in, ticks);
        writes[i].seq = static_cast<int64_t>(i);
        writes[i].port = in.ConsumeIntegralInRange<int>(0, 7) ? PORT_DATA : in.ConsumeIntegral<uint16_t>();
        writes[i].value = in.ConsumeIntegral<uint16_t>();
    }
    std::vector<StatusChange> status(in.ConsumeIntegralInRange<size_t>(0, MAX_STATUS));
    ticks = t.originTicks;
    for (StatusChange& c : status) {
        ticks = c.ticks = Ticks(in, ticks);
        c.value = in.ConsumeIntegral<int32_t>();
    }
    t.writes = writes.data();
    t.writeCount = writes.size();
    t.statusChanges = status.data();
    t.statusCount = status.size();
    VcdFile f = ParseVcdStrict(VcdText(t));
    if (!f.ok)
        fprintf(stderr, "reader: %s\n", f.error.c_str());
    FuzzCheck(f.ok, "the dump is not well formed");
    CheckEnd(f, t);
    return 0;
}
