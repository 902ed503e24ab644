// The soak's check of the journal: every write read once and in order, and
// the whole of it explained as effect passes (whole, never interleaved, only
// while their effect runs) and the writes of the commands given, each within
// the time it was handled.
#ifndef JOURNALCHECK_H
#define JOURNALCHECK_H

#include <string>
#include <vector>
#include "sharedport.h"

enum Effect { K2000 = 0, CHENILLARD = 1 };

// One command given to the program, with the data writes it must make.
struct Command {
    std::string name;
    std::vector<int> writes;  // exactly these, between two passes
    int starts;               // -1, or the effect whose timer it starts
    bool stops;               // "Arreter": both effects stop after its writes
    int64_t sent;             // journal count before it was sent
    int64_t handled;          // journal count once it had been handled
    int passesBefore;         // passes begun after it was sent, before its writes
};

// The journal as read so far, and the parse of it into passes and commands.
struct JournalCheck {
    int64_t next;                       // sequence number of the next write to copy
    int64_t lastTicks;
    std::vector<JournalWrite> pending;  // copied, not yet parsed
    size_t pos;                         // first unparsed write in pending
    int64_t checked;                    // writes copied and checked
    std::vector<Command> commands;      // in the order given
    size_t nextCommand;
    bool running[2];
    int64_t runsFrom[2];  // a pass of a started effect begins at or after this
    int64_t passes[2];
    double longestPassMs[2];
    int64_t fontaines;
    int worstPassesBefore;  // passes a command waited for, at most
};

extern std::string Failure;  // the first failure of the run; the checks stop at it

// Records a failure unless one was recorded before (printf-style).
void Fail(const char* format, ...);

// A command that writes these values, starts nothing and stops nothing.
Command MakeCommand(const std::string& name, std::vector<int> writes);
// Writes of WriteOutputs(v): the outputs are cleared first.
std::vector<int> Written(int v);

// Copies the writes made since the last read from the shared state and checks them.
void ReadJournal(JournalCheck& j);
// Checks the form of writes read: consecutive, ticks never going back, only
// data-port writes of 0..255, none dropped; keeps them for parsing.
void CheckWrites(JournalCheck& j, const JournalWrite* writes, size_t n, int64_t dropped);
// Parses as far as the writes allow; with `final`, everything must be parsed.
void ParseJournal(JournalCheck& j, bool final);

#endif
