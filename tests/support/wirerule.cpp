// See wirerule.h.
#include "wirerule.h"

bool LastWireSkip(PortState* s, WireSkip* out)
{
    int64_t end = AtomicLoad(&s->lastSkipEnd);
    if (end <= 0)
        return false;
    out->to = end;
    out->from = end - AtomicLoad(&s->lastSkipLength);
    return true;
}

// The values the wire must get: the journal less each skip's entries but
// its newest; *passed counts the entries left out.
static std::vector<int> Expected(const std::vector<JournalWrite>& journal, const std::vector<WireSkip>& skips,
                                 int64_t* passed)
{
    std::vector<int> out;
    *passed = 0;
    for (size_t i = 0; i < journal.size(); ++i) {
        int64_t seq = journal[i].seq;
        bool left = false;
        for (const WireSkip& k : skips) {
            bool newest = i + 1 == journal.size() || journal[i + 1].seq >= k.to;
            if (seq >= k.from && seq < k.to && !newest)
                left = true;
        }
        if (left)
            ++*passed;
        else
            out.push_back(journal[i].value & 0xFF);
    }
    return out;
}

bool WireFollowsJournal(const std::vector<JournalWrite>& journal, const std::vector<int>& wire, int kills,
                        const std::vector<WireSkip>& skips, int64_t unapplied, std::string* why)
{
    int64_t passed = 0;
    std::vector<int> expected = Expected(journal, skips, &passed);
    if (passed != unapplied) {
        *why = std::to_string(passed) + " writes passed over by the recoveries, the state counts " +
               std::to_string(unapplied) + " as unapplied";
        return false;
    }
    size_t j = 0, w = 0;
    int repeats = 0;
    for (; j < expected.size() && w < wire.size(); ++j, ++w) {
        if (expected[j] == wire[w])
            continue;
        if (j > 0 && wire[w] == expected[j - 1] && repeats < kills) {
            ++repeats;
            --j;
            continue;
        }
        *why = "wire and journal differ at write " + std::to_string(j) + ": journal " +
               std::to_string(expected[j]) + ", fil " + std::to_string(wire[w]);
        return false;
    }
    if (j != expected.size())
        *why = std::to_string(expected.size() - j) + " journal writes never reached the wire";
    else if (w != wire.size())
        *why = std::to_string(wire.size() - w) + " writes too many on the wire";
    return j == expected.size() && w == wire.size();
}
