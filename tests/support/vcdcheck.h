// A strict reader of Value Change Dump files, for the tests: it accepts only
// a well-formed header (known sections, balanced scopes, declared wires with
// unique identifiers, one timescale), then time marks that strictly increase
// and value changes of declared identifiers after a time mark.
#ifndef VCDCHECK_H
#define VCDCHECK_H

#include <stdint.h>
#include <map>
#include <string>
#include <vector>

struct VcdVar {
    std::string id;
    std::string name;  // scope path and reference, "port.D0"
    int width;
};

struct VcdChange {
    int64_t time;
    std::string id;
    char value;  // 0, 1, x or z
};

struct VcdFile {
    bool ok;
    std::string error;          // first fault found, with its token number
    std::string timescale;      // "1 us"
    std::vector<VcdVar> vars;
    std::vector<int64_t> times; // every time mark, in order
    std::vector<VcdChange> changes;
    std::map<std::string, char> initial;  // values given in $dumpvars
};

VcdFile ParseVcdStrict(const std::string& text);

// The identifier of the wire with this reference name (without scope), or "".
std::string VcdIdOf(const VcdFile& f, const std::string& name);

// Levels of the wires after all changes at or before `time`, by identifier.
std::map<std::string, char> VcdLevelsAt(const VcdFile& f, int64_t time);

// The data value D0..D7 gives after each time mark that changes one of them;
// -1 where a line is x.
std::vector<int> VcdDataValues(const VcdFile& f);

#endif
