// The virtual bench's own record of the port: the data writes copied from the
// shared journal and the status values it saw, each in a ring that keeps the
// newest entries.
#ifndef TRACE_H
#define TRACE_H

#include <stddef.h>
#include <stdint.h>
#include <vector>
#include "sharedport.h"
#include "vcd.h"

struct DataTrace {
    JournalWrite* items;  // ring storage, `capacity` entries
    size_t capacity;
    int64_t appended;     // entries appended since the last reset
    int initialData;      // data register before the oldest entry kept, -1 if unknown
};

struct StatusTrace {
    StatusChange* items;  // ring storage, `capacity` entries
    size_t capacity;
    int64_t appended;
    int32_t initialStatus;  // status register before the oldest change kept
};

void TraceReset(DataTrace* t, JournalWrite* storage, size_t capacity, int initialData);
// Keeps data-port writes only; when full, the oldest entry's value becomes the initial data.
void TraceAppend(DataTrace* t, const JournalWrite& w);
size_t TraceSize(const DataTrace& t);
const JournalWrite& TraceAt(const DataTrace& t, size_t i);  // 0 is the oldest
// Index of the first entry later than `ticks` (TraceSize if none).
size_t TraceFirstAfter(const DataTrace& t, int64_t ticks);
std::vector<JournalWrite> TraceEntries(const DataTrace& t);

void StatusTraceReset(StatusTrace* t, StatusChange* storage, size_t capacity, int32_t initialStatus);
void StatusTraceAppend(StatusTrace* t, const StatusChange& c);
std::vector<StatusChange> StatusTraceEntries(const StatusTrace& t);

#endif
