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

VcdFile ParseVcdStrict(const std::string& text)
{
    VcdFile f;
    f.ok = false;
    std::vector<std::string> tok;
    {
        std::istringstream in(text);
        std::string t;
        while (in >> t)
            tok.push_back(t);
    }
    size_t i = 0;
    auto fail = [&](const std::string& why) {
        f.error = why + " (token " + std::to_string(i) + ")";
        return f;
    };
    // Words up to the next $end.
    auto body = [&](std::vector<std::string>& words) {
        words.clear();
        while (++i < tok.size() && tok[i] != "$end")
            words.push_back(tok[i]);
        return i < tok.size();
    };
    std::vector<std::string> scopes;
    std::set<std::string> ids;
    std::map<std::string, int> widths;
    bool timescaleSeen = false, defsDone = false;
    std::vector<std::string> words;
    for (; i < tok.size() && !defsDone; ++i) {
        const std::string& t = tok[i];
        if (t == "$date" || t == "$version" || t == "$comment") {
            if (!body(words))
                return fail("unterminated " + t);
        } else if (t == "$timescale") {
            if (timescaleSeen)
                return fail("second $timescale");
            if (!body(words) || !ValidTimescale(words))
                return fail("bad $timescale");
            timescaleSeen = true;
            f.timescale = words.size() == 2 ? words[0] + " " + words[1] : words[0];
        } else if (t == "$scope") {
            if (!body(words) || words.size() != 2)
                return fail("bad $scope");
            static const std::set<std::string> types = { "module", "task", "function", "begin", "fork" };
            if (!types.count(words[0]))
                return fail("bad scope type " + words[0]);
            scopes.push_back(words[1]);
        } else if (t == "$upscope") {
            if (!body(words) || !words.empty() || scopes.empty())
                return fail("bad $upscope");
            scopes.pop_back();
        } else if (t == "$var") {
            if (!body(words) || (words.size() != 4 && words.size() != 5))
                return fail("bad $var");
            if (scopes.empty())
                return fail("$var outside a scope");
            static const std::set<std::string> types = { "wire", "reg", "integer", "real", "tri",
                                                         "wand", "wor", "event", "parameter" };
            if (!types.count(words[0]) || !AllDigits(words[1], 0) || !IsIdChar(words[2]))
                return fail("bad $var fields");
            int width = std::stoi(words[1]);
            if (width < 1 || !ids.insert(words[2]).second)
                return fail("bad width or duplicate identifier " + words[2]);
            std::string path;
            for (const std::string& s : scopes)
                path += s + ".";
            f.vars.push_back({ words[2], path + words[3], width });
            widths[words[2]] = width;
        } else if (t == "$enddefinitions") {
            if (!body(words) || !words.empty())
                return fail("bad $enddefinitions");
            if (!scopes.empty())
                return fail("unbalanced scopes");
            if (!timescaleSeen || f.vars.empty())
                return fail("no timescale or no variables");
            defsDone = true;
        } else {
            return fail("unexpected " + t + " in the header");
        }
    }
    if (!defsDone)
        return fail("no $enddefinitions");
    bool haveTime = false;
    int64_t now = 0;
    bool inDump = false, inDumpvars = false;
    auto change = [&](const std::string& id, char value) -> bool {
        if (!ids.count(id) || widths[id] != 1 || !haveTime)
            return false;
        f.changes.push_back({ now, id, value });
        if (inDumpvars)
            f.initial[id] = value;
        return true;
    };
    for (; i < tok.size(); ++i) {
        const std::string& t = tok[i];
        if (t[0] == '#') {
            if (!AllDigits(t, 1))
                return fail("bad time " + t);
            int64_t time = std::stoll(t.substr(1));
            if (haveTime && time <= now)
                return fail("time does not increase: " + t);
            if (inDump)
                return fail("time inside a $dump section");
            now = time;
            haveTime = true;
            f.times.push_back(time);
        } else if (t == "$dumpvars" || t == "$dumpall" || t == "$dumpon" || t == "$dumpoff") {
            if (inDump || !haveTime)
                return fail("misplaced " + t);
            inDump = true;
            inDumpvars = t == "$dumpvars";
        } else if (t == "$end") {
            if (!inDump)
                return fail("stray $end");
            inDump = inDumpvars = false;
        } else if (t == "$comment") {
            if (!body(words))
                return fail("unterminated $comment");
        } else if (strchr("01xXzZ", t[0]) && t.size() > 1) {
            char v = static_cast<char>(tolower(static_cast<unsigned char>(t[0])));
            if (!change(t.substr(1), v))
                return fail("change of an undeclared or wide identifier: " + t);
        } else {
            return fail("unexpected " + t);
        }
    }
    if (inDump)
        return fail("unterminated $dump section");
    f.ok = true;
    return f;
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
