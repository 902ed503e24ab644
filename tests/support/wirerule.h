// What the wire must have got, given the journal's data writes: the rule of
// portstate.h. Each journaled write reaches the wire once, in order, except
// that (1) the write a killed helper had on the wire may come once more,
// right after itself (at most `kills` such repeats), and (2) after a long
// outage a run of writes is passed over: the wire goes on with a later
// write (the current value then). The writes passed over must number
// exactly `unapplied`, as the shared state counts them.
#ifndef WIRERULE_H
#define WIRERULE_H

#include <stdint.h>
#include <string>
#include <vector>

// True if `wire` follows `journal` by the rule; otherwise false with the
// first difference in words in *why.
bool WireFollowsJournal(const std::vector<int>& journal, const std::vector<int>& wire, int kills,
                        int64_t unapplied, std::string* why);

#endif
