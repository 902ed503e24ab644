#include "vcdcheck.h"
#include <ctype.h>
#include <string.h>
#include <set>
#include <sstream>

static bool IsIdChar(const std::string& s)
{
    for (char c : s)
        if (c < 33 || c > 126)
            return false;
    return !s.empty();
}

static bool AllDigits(const std::string& s, size_t from)
{
    if (s.size() <= from)
        return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

static bool ValidTimescale(const std::vector<std::string>& words)
{
    std::string joined;
    for (const std::string& w : words)
        joined += w;
    static const char* numbers[] = { "100", "10", "1" };
    static const char* units[] = { "s", "ms", "us", "ns", "ps", "fs" };
    for (const char* n : numbers) {
        std::string num(n);
        if (joined.compare(0, num.size(), num) != 0)
            continue;
        std::string unit = joined.substr(num.size());
        for (const char* u : units)
            if (unit == u)
                return true;
        return false;
    }
    return false;
}

// The tokens, the reader's place in them, the file as read so far and the
// identifiers the header declared.
struct VcdParse {
    std::vector<std::string> tok;
    size_t i;
    VcdFile f;
    std::set<std::string> ids;
    std::map<std::string, int> widths;
    std::vector<std::string> words;  // the body of the last section read
};

static bool Fail(VcdParse& p, const std::string& why)
{
    p.f.error = why + " (token " + std::to_string(p.i) + ")";
    return false;
}

// Reads the words up to the next $end into p.words; false if there is none.
static bool Body(VcdParse& p)
{
    p.words.clear();
    while (++p.i < p.tok.size() && p.tok[p.i] != "$end")
        p.words.push_back(p.tok[p.i]);
    return p.i < p.tok.size();
}

static bool ParseVar(VcdParse& p, const std::vector<std::string>& scopes)
{
    const std::vector<std::string>& w = p.words;
    if (!Body(p) || (w.size() != 4 && w.size() != 5))
        return Fail(p, "bad $var");
    if (scopes.empty())
        return Fail(p, "$var outside a scope");
    static const std::set<std::string> types = { "wire", "reg", "integer", "real", "tri",
                                                 "wand", "wor", "event", "parameter" };
    if (!types.count(w[0]) || !AllDigits(w[1], 0) || !IsIdChar(w[2]))
        return Fail(p, "bad $var fields");
    int width = std::stoi(w[1]);
    if (width < 1 || !p.ids.insert(w[2]).second)
        return Fail(p, "bad width or duplicate identifier " + w[2]);
    std::string path;
    for (const std::string& s : scopes)
        path += s + ".";
    p.f.vars.push_back({ w[2], path + w[3], width });
    p.widths[w[2]] = width;
    return true;
}

static bool ParseScope(VcdParse& p, std::vector<std::string>& scopes)
{
    if (!Body(p) || p.words.size() != 2)
        return Fail(p, "bad $scope");
    static const std::set<std::string> types = { "module", "task", "function", "begin", "fork" };
    if (!types.count(p.words[0]))
        return Fail(p, "bad scope type " + p.words[0]);
    scopes.push_back(p.words[1]);
    return true;
}

// The header, up to and with $enddefinitions: known sections, balanced scopes,
// unique identifiers, one timescale.
static bool ParseHeader(VcdParse& p)
{
    std::vector<std::string> scopes;
    bool timescaleSeen = false;
    for (; p.i < p.tok.size(); ++p.i) {
        const std::string t = p.tok[p.i];
        bool ok = true;
        if (t == "$date" || t == "$version" || t == "$comment") {
            ok = Body(p) || Fail(p, "unterminated " + t);
        } else if (t == "$timescale") {
            if (timescaleSeen)
                return Fail(p, "second $timescale");
            if (!Body(p) || !ValidTimescale(p.words))
                return Fail(p, "bad $timescale");
            timescaleSeen = true;
            p.f.timescale = p.words.size() == 2 ? p.words[0] + " " + p.words[1] : p.words[0];
        } else if (t == "$scope") {
            ok = ParseScope(p, scopes);
        } else if (t == "$upscope") {
            if (!Body(p) || !p.words.empty() || scopes.empty())
                return Fail(p, "bad $upscope");
            scopes.pop_back();
        } else if (t == "$var") {
            ok = ParseVar(p, scopes);
        } else if (t == "$enddefinitions") {
            if (!Body(p) || !p.words.empty())
                return Fail(p, "bad $enddefinitions");
            if (!scopes.empty())
                return Fail(p, "unbalanced scopes");
            if (!timescaleSeen || p.f.vars.empty())
                return Fail(p, "no timescale or no variables");
            ++p.i;
            return true;
        } else {
            return Fail(p, "unexpected " + t + " in the header");
        }
        if (!ok)
            return false;
    }
    return Fail(p, "no $enddefinitions");
}

// Where the reader is among the changes.
struct VcdClock {
    bool haveTime;
    int64_t now;
    bool inDump, inDumpvars;
};

static bool ParseTime(VcdParse& p, VcdClock& c, const std::string& t)
{
    if (!AllDigits(t, 1))
        return Fail(p, "bad time " + t);
    int64_t time = std::stoll(t.substr(1));
    if (c.haveTime && time <= c.now)
        return Fail(p, "time does not increase: " + t);
    if (c.inDump)
        return Fail(p, "time inside a $dump section");
    c.now = time;
    c.haveTime = true;
    p.f.times.push_back(time);
    return true;
}

static bool ParseChange(VcdParse& p, const VcdClock& c, const std::string& t)
{
    char value = static_cast<char>(tolower(static_cast<unsigned char>(t[0])));
    std::string id = t.substr(1);
    if (!p.ids.count(id) || p.widths[id] != 1 || !c.haveTime)
        return Fail(p, "change of an undeclared or wide identifier: " + t);
    p.f.changes.push_back({ c.now, id, value });
    if (c.inDumpvars)
        p.f.initial[id] = value;
    return true;
}

// After the header: time marks that strictly increase, $dump sections, and
// value changes of declared one-bit identifiers after a time mark.
static bool ParseChanges(VcdParse& p)
{
    VcdClock c = { false, 0, false, false };
    for (; p.i < p.tok.size(); ++p.i) {
        const std::string t = p.tok[p.i];
        bool ok = true;
        if (t[0] == '#') {
            ok = ParseTime(p, c, t);
        } else if (t == "$dumpvars" || t == "$dumpall" || t == "$dumpon" || t == "$dumpoff") {
            if (c.inDump || !c.haveTime)
                return Fail(p, "misplaced " + t);
            c.inDump = true;
            c.inDumpvars = t == "$dumpvars";
        } else if (t == "$end") {
            if (!c.inDump)
                return Fail(p, "stray $end");
            c.inDump = c.inDumpvars = false;
        } else if (t == "$comment") {
            ok = Body(p) || Fail(p, "unterminated $comment");
        } else if (strchr("01xXzZ", t[0]) && t.size() > 1) {
            ok = ParseChange(p, c, t);
        } else {
            return Fail(p, "unexpected " + t);
        }
        if (!ok)
            return false;
    }
    return !c.inDump || Fail(p, "unterminated $dump section");
}

VcdFile ParseVcdStrict(const std::string& text)
{
    VcdParse p;
    p.i = 0;
    p.f.ok = false;
    std::istringstream in(text);
    std::string t;
    while (in >> t)
        p.tok.push_back(t);
    p.f.ok = ParseHeader(p) && ParseChanges(p);
    return p.f;
}

std::string VcdIdOf(const VcdFile& f, const std::string& name)
{
    for (const VcdVar& v : f.vars) {
        size_t dot = v.name.rfind('.');
        if (v.name.substr(dot == std::string::npos ? 0 : dot + 1) == name)
            return v.id;
    }
    return "";
}

std::map<std::string, char> VcdLevelsAt(const VcdFile& f, int64_t time)
{
    std::map<std::string, char> levels;
    for (const VcdVar& v : f.vars)
        levels[v.id] = 'x';
    for (const VcdChange& c : f.changes) {
        if (c.time > time)
            break;
        levels[c.id] = c.value;
    }
    return levels;
}

std::vector<int> VcdDataValues(const VcdFile& f)
{
    std::string ids[8];
    for (int bit = 0; bit < 8; ++bit)
        ids[bit] = VcdIdOf(f, "D" + std::to_string(bit));
    std::map<std::string, char> levels;
    for (const VcdVar& v : f.vars)
        levels[v.id] = 'x';
    std::vector<int> values;
    size_t c = 0;
    for (int64_t time : f.times) {
        bool touched = false;
        for (; c < f.changes.size() && f.changes[c].time == time; ++c) {
            levels[f.changes[c].id] = f.changes[c].value;
            for (const std::string& id : ids)
                if (id == f.changes[c].id)
                    touched = true;
        }
        if (!touched)
            continue;
        int value = 0;
        for (int bit = 0; bit < 8; ++bit) {
            char l = levels[ids[bit]];
            if (l != '0' && l != '1') {
                value = -1;
                break;
            }
            if (l == '1')
                value |= 1 << bit;
        }
        values.push_back(value);
    }
    return values;
}
