#include "trace.h"

void TraceReset(DataTrace* t, JournalWrite* storage, size_t capacity, int initialData)
{
    t->items = storage;
    t->capacity = capacity;
    t->appended = 0;
    t->initialData = initialData;
}

size_t TraceSize(const DataTrace& t)
{
    return t.appended < static_cast<int64_t>(t.capacity) ? static_cast<size_t>(t.appended) : t.capacity;
}

const JournalWrite& TraceAt(const DataTrace& t, size_t i)
{
    size_t oldest = static_cast<size_t>(t.appended - static_cast<int64_t>(TraceSize(t)));
    return t.items[(oldest + i) % t.capacity];
}

void TraceAppend(DataTrace* t, const JournalWrite& w)
{
    if (w.port != PORT_DATA || t->capacity == 0)
        return;
    JournalWrite& slot = t->items[static_cast<size_t>(t->appended % static_cast<int64_t>(t->capacity))];
    if (t->appended >= static_cast<int64_t>(t->capacity))
        t->initialData = slot.value & 0xFF;
    slot = w;
    ++t->appended;
}

size_t TraceFirstAfter(const DataTrace& t, int64_t ticks)
{
    size_t lo = 0, hi = TraceSize(t);
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (TraceAt(t, mid).ticks <= ticks)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::vector<JournalWrite> TraceEntries(const DataTrace& t)
{
    std::vector<JournalWrite> out;
    size_t n = TraceSize(t);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i)
        out.push_back(TraceAt(t, i));
    return out;
}

void StatusTraceReset(StatusTrace* t, StatusChange* storage, size_t capacity, int32_t initialStatus)
{
    t->items = storage;
    t->capacity = capacity;
    t->appended = 0;
    t->initialStatus = initialStatus;
}

void StatusTraceAppend(StatusTrace* t, const StatusChange& c)
{
    if (t->capacity == 0)
        return;
    StatusChange& slot = t->items[static_cast<size_t>(t->appended % static_cast<int64_t>(t->capacity))];
    if (t->appended >= static_cast<int64_t>(t->capacity))
        t->initialStatus = slot.value;
    slot = c;
    ++t->appended;
}

std::vector<StatusChange> StatusTraceEntries(const StatusTrace& t)
{
    std::vector<StatusChange> out;
    size_t n = t.appended < static_cast<int64_t>(t.capacity) ? static_cast<size_t>(t.appended) : t.capacity;
    size_t oldest = static_cast<size_t>(t.appended - static_cast<int64_t>(n));
    for (size_t i = 0; i < n; ++i)
        out.push_back(t.items[(oldest + i) % t.capacity]);
    return out;
}
