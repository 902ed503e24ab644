// The soak's journal check: the writes read from the shared state, parsed
// into whole effect passes and the writes of the commands given.
#include "journalcheck.h"
#include <stdarg.h>
#include <stdio.h>
#include <algorithm>
#include "testwin.h"

std::string Failure;

void Fail(const char* format, ...)
{
    if (!Failure.empty())
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Failure = text;
}

static std::string Join(const JournalWrite* w, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (i ? "," : "") + std::to_string(w[i].value);
    return s;
}

static std::string Join(const std::vector<int>& v)
{
    std::string s;
    for (size_t i = 0; i < v.size(); ++i)
        s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

Command MakeCommand(const std::string& name, std::vector<int> writes)
{
    Command c;
    c.name = name;
    c.writes = writes;
    c.starts = -1;
    c.stops = false;
    c.sent = c.handled = 0;
    c.passesBefore = 0;
    return c;
}

std::vector<int> Written(int v)
{
    return { 0, v };
}

static JournalWrite Copied[PORTSTATE_JOURNAL_CAPACITY];

void ReadJournal(JournalCheck& j)
{
    int64_t next = 0, dropped = 0;
    size_t n = SharedPortCopyJournal(SharedPortAttach(), j.next, Copied, PORTSTATE_JOURNAL_CAPACITY, &next, &dropped);
    CheckWrites(j, Copied, n, dropped);
}

void CheckWrites(JournalCheck& j, const JournalWrite* writes, size_t n, int64_t dropped)
{
    if (dropped != 0)
        Fail("journal: %lld writes from seq %lld lost (overwritten before they were read, or torn)",
             static_cast<long long>(dropped), static_cast<long long>(j.next));
    for (size_t i = 0; i < n && Failure.empty(); ++i) {
        const JournalWrite& w = writes[i];
        if (w.seq != j.next)
            Fail("journal: seq %lld where %lld was due", static_cast<long long>(w.seq),
                 static_cast<long long>(j.next));
        else if (w.ticks < j.lastTicks)
            Fail("journal: ticks go back at seq %lld (%lld after %lld)", static_cast<long long>(w.seq),
                 static_cast<long long>(w.ticks), static_cast<long long>(j.lastTicks));
        else if (w.port != PORT_DATA)
            Fail("journal: seq %lld writes port 0x%X", static_cast<long long>(w.seq), w.port);
        else if (w.value > 255)
            Fail("journal: seq %lld writes %u, beyond anything the soak asked for",
                 static_cast<long long>(w.seq), w.value);
        j.next = w.seq + 1;
        j.lastTicks = w.ticks;
        j.pending.push_back(w);
        ++j.checked;
    }
}

static size_t Available(const JournalCheck& j)
{
    return j.pending.size() - j.pos;
}

static int ValueAt(const JournalCheck& j, size_t i)
{
    return j.pending[j.pos + i].value;
}

// The writes of a pass from its start: 0, 1, 0, 2 ... 0, 128, and for K2000
// then 0, 128, 0, 64 ... 0, 1.
static int PassValue(int effect, size_t i)
{
    if (i % 2 == 0)
        return 0;
    int step = static_cast<int>(i / 2);
    if (effect == K2000 && step >= 8)
        return 1 << (15 - step);
    return 1 << step;
}

static size_t PassLength(int effect)
{
    return effect == K2000 ? 32 : 16;
}

static std::string Around(const JournalCheck& j, size_t count)
{
    size_t n = std::min(count, Available(j));
    return Join(&j.pending[j.pos], n);
}

// Parses one whole pass at the head; false if more writes are needed.
static bool ParsePass(JournalCheck& j, bool final)
{
    size_t have = Available(j);
    // After the sweep up, K2000 goes on with 0, 128; no command begins so.
    if (have < 18 && !final)
        return false;
    int effect = have >= 18 && ValueAt(j, 16) == 0 && ValueAt(j, 17) == 128 ? K2000 : CHENILLARD;
    size_t length = PassLength(effect);
    if (have < length) {
        if (final)
            Fail("journal: pass at seq %lld cut short: %s", static_cast<long long>(j.pending[j.pos].seq),
                 Around(j, length).c_str());
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (ValueAt(j, i) != PassValue(effect, i)) {
            Fail("journal: %s pass at seq %lld broken at its write %u: %s",
                 effect == K2000 ? "K2000" : "Chenillard", static_cast<long long>(j.pending[j.pos].seq),
                 static_cast<unsigned>(i), Around(j, length).c_str());
            return false;
        }
    }
    int64_t first = j.pending[j.pos].seq;
    if (!j.running[effect] || first < j.runsFrom[effect]) {
        Fail("journal: %s pass at seq %lld while that effect was stopped",
             effect == K2000 ? "K2000" : "Chenillard", static_cast<long long>(first));
        return false;
    }
    double ms = TicksToMs(j.pending[j.pos + length - 1].ticks - j.pending[j.pos].ticks);
    j.longestPassMs[effect] = std::max(j.longestPassMs[effect], ms);
    ++j.passes[effect];
    if (j.nextCommand < j.commands.size()) {
        Command& c = j.commands[j.nextCommand];
        if (first >= c.handled) {
            Fail("journal: the writes of \"%s\" (sent at seq %lld, handled by %lld) are missing; a pass "
                 "follows at %lld", c.name.c_str(), static_cast<long long>(c.sent),
                 static_cast<long long>(c.handled), static_cast<long long>(first));
            return false;
        }
        if (first >= c.sent)
            ++c.passesBefore;
    }
    j.pos += length;
    return true;
}

// Takes the commands that write nothing, up to the next that writes.
static void TakeSilentCommands(JournalCheck& j)
{
    while (j.nextCommand < j.commands.size() && j.commands[j.nextCommand].writes.empty()) {
        const Command& c = j.commands[j.nextCommand++];
        if (c.starts >= 0 && !j.running[c.starts]) {
            j.running[c.starts] = true;
            j.runsFrom[c.starts] = c.sent;
        }
    }
}

// Parses the next command's writes at the head; false if more are needed.
static bool ParseCommand(JournalCheck& j, bool final)
{
    if (j.nextCommand >= j.commands.size()) {
        if (Available(j) >= 2 || final)
            Fail("journal: writes at seq %lld that no command and no pass explain: %s",
                 static_cast<long long>(j.pending[j.pos].seq), Around(j, 34).c_str());
        return false;
    }
    Command& c = j.commands[j.nextCommand];
    size_t n = c.writes.size();
    if (Available(j) < n) {
        if (final)
            Fail("journal: \"%s\" wrote %s, not %s", c.name.c_str(), Around(j, n).c_str(),
                 Join(c.writes).c_str());
        return false;
    }
    int64_t first = j.pending[j.pos].seq, last = first + static_cast<int64_t>(n) - 1;
    for (size_t i = 0; i < n; ++i) {
        if (ValueAt(j, i) != c.writes[i]) {
            Fail("journal: at seq %lld neither a whole pass nor the writes of \"%s\" (%s): %s",
                 static_cast<long long>(first), c.name.c_str(), Join(c.writes).c_str(),
                 Around(j, 34).c_str());
            return false;
        }
    }
    if (first < c.sent || last >= c.handled) {
        Fail("journal: the writes of \"%s\" at seq %lld..%lld, outside the time it was handled (%lld..%lld)",
             c.name.c_str(), static_cast<long long>(first), static_cast<long long>(last),
             static_cast<long long>(c.sent), static_cast<long long>(c.handled));
        return false;
    }
    j.worstPassesBefore = std::max(j.worstPassesBefore, c.passesBefore);
    if (c.stops)
        j.running[K2000] = j.running[CHENILLARD] = false;
    if (c.name == "Fontaine")
        ++j.fontaines;
    ++j.nextCommand;
    j.pos += n;
    return true;
}

// Every pass begins 0, 1, which no command writes (the soak never sends 1 or
// 128), so the head is told apart by its first two writes.
void ParseJournal(JournalCheck& j, bool final)
{
    while (Failure.empty()) {
        TakeSilentCommands(j);
        size_t have = Available(j);
        if (have == 0)
            break;
        if (have < 2 && !final)
            break;
        bool pass = have >= 2 && ValueAt(j, 0) == 0 && ValueAt(j, 1) == 1;
        if (!(pass ? ParsePass(j, final) : ParseCommand(j, final)))
            break;
    }
    if (j.pos > 4096) {
        j.pending.erase(j.pending.begin(), j.pending.begin() + static_cast<ptrdiff_t>(j.pos));
        j.pos = 0;
    }
}
