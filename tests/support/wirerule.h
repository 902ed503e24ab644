// What the wire must have got, given the journal's data writes: the rule of
// portstate.h. Each journaled write reaches the wire once, in order, except
// that (1) the write a killed helper had on the wire may come once more,
// right after itself (at most `kills` such repeats), and (2) a stale backlog
// is passed over: of its entries only the newest data write reaches the
// wire. The writes passed over must number exactly `unapplied`, as the
// shared state counts them.
#ifndef WIRERULE_H
#define WIRERULE_H

#include <stdint.h>
#include <string>
#include <vector>
#include "portcore.h"

// Journal entries [from, to) passed over when a stale backlog was met.
struct WireSkip {
    int64_t from, to;
};

// The state's last stale backlog (lastSkipEnd, lastSkipLength); false if none.
bool LastWireSkip(PortState* s, WireSkip* out);

// True if `wire` follows `journal` (data writes, in order, with their
// sequence numbers) by the rule; otherwise false with the first difference
// in words in *why.
bool WireFollowsJournal(const std::vector<JournalWrite>& journal, const std::vector<int>& wire, int kills,
                        const std::vector<WireSkip>& skips, int64_t unapplied, std::string* why);

#endif
