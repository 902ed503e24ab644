// Stimulus files for play: what the status inputs do over time, read from a
// small timed text or from a Value Change Dump. Portable, no system call.
//
// Timed text, one step a line; "#" starts a comment:
//   +DURÉE VALEUR       after DURÉE (us, ms, s; ms when bare) since the step
//                       before, set the status register to VALEUR, given as
//                       portctl etat takes it: a number, or input names
//                       pulled low
//   +DURÉE              alone, last: the round ends DURÉE after the last step
//   repeat N            play the steps N times (once by default)
// Each round starts when the previous one ends: at its last step, or at the
// end mark.
//
// Value Change Dump (IEEE 1364): the 1-bit wires named nError, Select,
// PaperOut, nAck and Busy (the names of the export), at their pin level:
// 0 pulled low, 1, x or z released. Other wires are ignored; inputs it does
// not name stay released. One round, ending at the dump's last time mark.
#ifndef STIMULUS_H
#define STIMULUS_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

constexpr size_t STIMULUS_FILE_MAX = 16 * 1024 * 1024;  // a longer file is refused
constexpr size_t STIMULUS_STEPS_MAX = 200000;
constexpr long STIMULUS_ROUNDS_MAX = 1000000;
constexpr int64_t STIMULUS_TOTAL_MAX_NS = int64_t(1000000) * 1000000000;  // 1e6 s, about 11 days

struct StimulusStep {
    int64_t atNs;    // from the start of the round, never decreasing
    int32_t status;  // the status register from then on
};

struct Stimulus {
    std::vector<StimulusStep> steps;
    int64_t roundNs;  // a round's length: the next starts this long after it
    long rounds;
};

// Parses either form (a dump starts with "$"). False with a French message,
// naming the line for the timed text.
bool ParseStimulus(const std::string& text, Stimulus* out, std::string* error);
bool ParseTimedText(const std::string& text, Stimulus* out, std::string* error);
bool ParseStimulusVcd(const std::string& text, Stimulus* out, std::string* error);

// Reads a whole file of at most `max` bytes. False with a message if not.
bool ReadWholeFile(const char* path, size_t max, std::string* text, std::string* error);

#endif
