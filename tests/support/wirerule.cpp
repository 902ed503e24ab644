// See wirerule.h.
#include "wirerule.h"

constexpr size_t MATCH_AHEAD = 16;  // writes that must agree after a run passed over

// The first k >= j such that journal[k...] and wire[w...] agree for the next
// MATCH_AHEAD writes (or to the end); journal.size() if none.
static size_t Realign(const std::vector<int>& journal, const std::vector<int>& wire, size_t j, size_t w,
                      size_t maxSkip)
{
    for (size_t k = j + 1; k < journal.size() && k - j <= maxSkip; ++k) {
        size_t n = 0;
        while (n < MATCH_AHEAD && k + n < journal.size() && w + n < wire.size() && journal[k + n] == wire[w + n])
            ++n;
        if (n == MATCH_AHEAD || k + n == journal.size() || w + n == wire.size())
            return k;
    }
    return journal.size();
}

bool WireFollowsJournal(const std::vector<int>& journal, const std::vector<int>& wire, int kills,
                        int64_t unapplied, std::string* why)
{
    size_t j = 0, w = 0;
    int repeats = 0;
    int64_t skipped = 0;
    while (j < journal.size() && w < wire.size()) {
        if (journal[j] == wire[w]) {
            ++j;
            ++w;
        } else if (j > 0 && wire[w] == journal[j - 1] && repeats < kills &&
                   (w + 1 >= wire.size() || wire[w + 1] == journal[j])) {
            ++repeats;
            ++w;
        } else {
            size_t k = Realign(journal, wire, j, w, static_cast<size_t>(unapplied - skipped));
            if (k == journal.size()) {
                *why = "fil et journal differents a l'ecriture " + std::to_string(j) + " : journal " +
                       std::to_string(journal[j]) + ", fil " + std::to_string(wire[w]);
                return false;
            }
            skipped += static_cast<int64_t>(k - j);
            j = k;
        }
    }
    if (w != wire.size()) {
        *why = std::to_string(wire.size() - w) + " ecritures sur le fil en trop";
        return false;
    }
    skipped += static_cast<int64_t>(journal.size() - j);
    if (skipped != unapplied) {
        *why = std::to_string(skipped) + " ecritures jamais arrivees sur le fil, l'etat en compte " +
               std::to_string(unapplied) + " comme non appliquees";
        return false;
    }
    return true;
}
