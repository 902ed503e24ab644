// The virtual bench's copy of the shared state: it attaches, copies the
// journal of data writes into its trace, keeps the status changes, and saves
// both as a Value Change Dump.
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "sharedport.h"
#include "trace.h"
#include "vbench_state.h"
#include "vcd.h"

constexpr size_t TRACE_CAPACITY = 1 << 18;   // data writes kept for the chart and the dump
constexpr size_t STATUS_CAPACITY = 4096;     // status changes kept
constexpr size_t COPY_CHUNK = 4096;          // journal entries copied at a time

static int64_t JournalCursor;                   // next journal sequence number to copy
static LONG SeenResets;                         // the state's reset count at the last look
static std::vector<JournalWrite> CopyBuffer;    // one chunk of journal entries
static std::vector<JournalWrite> TraceStorage;  // ring storage of Trace
static std::vector<StatusChange> StatusStorage; // ring storage of Statuses
static StatusTrace Statuses;                    // status values seen, for the dump
static int64_t StartTicks;                      // when the bench attached

void RecordStatus(int32_t value)
{
    CurrentStatus = value;
    StatusTraceAppend(&Statuses, StatusChange{ SharedPortNow(), value });
}

void ReadJournal()
{
    if (Port->resets != SeenResets || SharedPortWriteCount(Port) < JournalCursor) {
        SeenResets = Port->resets;  // re-initialised: its journal starts again at 0
        JournalCursor = 0;
    }
    size_t rounds = PORTSTATE_JOURNAL_CAPACITY / COPY_CHUNK + 1;
    size_t copied = COPY_CHUNK;
    while (copied == COPY_CHUNK && rounds-- > 0) {
        int64_t next = JournalCursor, dropped = 0;
        copied = SharedPortCopyJournal(Port, JournalCursor, CopyBuffer.data(), COPY_CHUNK, &next, &dropped);
        for (size_t i = 0; i < copied; ++i)
            TraceAppend(&Trace, CopyBuffer[i]);
        DroppedWrites += dropped;
        JournalCursor = next;
    }
}

static std::string LocalDate()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return buf;
}

bool SaveTrace(const char* path, size_t* writes)
{
    std::vector<JournalWrite> entries = TraceEntries(Trace);
    std::vector<StatusChange> changes = StatusTraceEntries(Statuses);
    int64_t now = SharedPortNow();
    int64_t origin = StartTicks;
    if (!entries.empty() && entries.front().ticks < origin)
        origin = entries.front().ticks;
    if (!changes.empty() && changes.front().ticks < origin)
        origin = changes.front().ticks;
    std::string date = LocalDate();
    VcdTrace t = {};
    t.writes = entries.data();
    t.writeCount = entries.size();
    t.statusChanges = changes.data();
    t.statusCount = changes.size();
    t.frequency = Port->frequency;
    t.originTicks = origin;
    t.endTicks = now;
    t.initialData = Trace.initialData;
    t.initialStatus = Statuses.initialStatus;
    t.date = date.c_str();
    *writes = entries.size();
    return WriteTextFile(path, VcdText(t));
}

void AttachPort()
{
    Port = SharedPortAttach();
    StartTicks = SharedPortNow();
    SeenResets = Port->resets;
    int64_t total = SharedPortWriteCount(Port);
    JournalCursor = total > static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY)
                        ? total - static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY) : 0;
    CopyBuffer.resize(COPY_CHUNK);
    TraceStorage.resize(TRACE_CAPACITY);
    StatusStorage.resize(STATUS_CAPACITY);
    // A journal read from its first write starts from the register's initial 0.
    TraceReset(&Trace, TraceStorage.data(), TraceStorage.size(), JournalCursor == 0 ? 0 : -1);
    CurrentStatus = Port->status;
    StatusTraceReset(&Statuses, StatusStorage.data(), StatusStorage.size(), CurrentStatus);
    ReadJournal();
    CurrentData = ShownData = Port->data & DATA_MASK;
}
