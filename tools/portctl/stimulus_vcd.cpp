// A Value Change Dump of the status inputs as a stimulus; see stimulus.h.
#include <string.h>
#include <map>
#include "stimulus.h"
#include "switches.h"

namespace {

constexpr int TIME_DIGITS_MAX = 18;  // below INT64_MAX

struct VcdReader {
    const std::string& text;
    size_t at;
    int64_t nsMul, nsDiv;          // nanoseconds per time unit: nsMul / nsDiv; 0 before $timescale
    std::map<std::string, int> ids;  // identifier code of each input's wire
    unsigned declared;               // inputs declared, one bit each
    unsigned pulledLow;              // inputs at level 0 now
    int64_t time;                    // in ns, of the block being read
    bool changed;                    // an input changed in this block
    Stimulus* out;
    std::string* error;
};

bool Fail(VcdReader& r, const std::string& message)
{
    *r.error = message;
    return false;
}

bool Next(VcdReader& r, std::string* token)
{
    size_t b = r.text.find_first_not_of(" \t\r\n", r.at);
    if (b == std::string::npos)
        return false;
    size_t e = r.text.find_first_of(" \t\r\n", b);
    if (e == std::string::npos)
        e = r.text.size();
    *token = r.text.substr(b, e - b);
    r.at = e;
    return true;
}

// The tokens of a section up to its $end.
bool Section(VcdReader& r, const std::string& name, std::vector<std::string>* tokens)
{
    std::string t;
    while (Next(r, &t)) {
        if (t == "$end")
            return true;
        tokens->push_back(t);
    }
    return Fail(r, name + " sans $end");
}

bool Timescale(VcdReader& r, const std::vector<std::string>& tokens)
{
    std::string s;
    for (const std::string& t : tokens)
        s += t;
    size_t digits = s.find_first_not_of("0123456789");
    std::string number = s.substr(0, digits), unit = digits == std::string::npos ? "" : s.substr(digits);
    static const struct { const char* unit; int64_t mul, div; } UNITS[] = {
        { "s", 1000000000, 1 }, { "ms", 1000000, 1 }, { "us", 1000, 1 },
        { "ns", 1, 1 }, { "ps", 1, 1000 }, { "fs", 1, 1000000 },
    };
    int64_t factor = number == "1" ? 1 : number == "10" ? 10 : number == "100" ? 100 : 0;
    for (const auto& u : UNITS) {
        if (factor != 0 && unit == u.unit) {
            r.nsMul = factor * u.mul;
            r.nsDiv = u.div;
            return true;
        }
    }
    return Fail(r, "$timescale illisible « " + s + " » (attendu 1, 10 ou 100 puis s, ms, us, ns, ps ou fs)");
}

// $var TYPE SIZE CODE NAME [RANGE]: the inputs' wires are kept.
bool Declare(VcdReader& r, const std::vector<std::string>& tokens)
{
    if (tokens.size() < 4)
        return Fail(r, "$var incomplet");
    int input = FindStatusInput(tokens[3].c_str());
    if (input < 0)
        return true;
    if (tokens[1] != "1" || tokens.size() > 4)
        return Fail(r, tokens[3] + " doit être un fil d'un seul bit");
    if (r.declared & (1u << input))
        return Fail(r, tokens[3] + " déclarée deux fois");
    r.declared |= 1u << input;
    r.ids[tokens[2]] = input;
    return true;
}

// The block read so far becomes a step if it changed the status.
bool Flush(VcdReader& r)
{
    int32_t status = StatusFromSwitches(r.pulledLow);
    std::vector<StimulusStep>& steps = r.out->steps;
    if (!r.changed)
        return true;
    r.changed = false;
    if (!steps.empty() && steps.back().status == status)
        return true;
    if (steps.size() >= STIMULUS_STEPS_MAX)
        return Fail(r, "plus de " + std::to_string(STIMULUS_STEPS_MAX) + " changements des entrées");
    if (!steps.empty() && steps.back().atNs == r.time)
        steps.back().status = status;
    else
        steps.push_back(StimulusStep{ r.time, status });
    return true;
}

bool Time(VcdReader& r, const std::string& token)
{
    std::string digits = token.substr(1);
    if (digits.empty() || digits.size() > TIME_DIGITS_MAX || digits.find_first_not_of("0123456789") != std::string::npos)
        return Fail(r, "marque de temps illisible « " + token + " »");
    if (r.nsMul == 0)
        return Fail(r, "marque de temps avant $timescale");
    int64_t units = std::stoll(digits);
    if (units / r.nsDiv > STIMULUS_TOTAL_MAX_NS / r.nsMul)
        return Fail(r, "« " + token + " » : la lecture durerait trop longtemps");
    int64_t ns = units / r.nsDiv * r.nsMul + units % r.nsDiv * r.nsMul / r.nsDiv;
    if (ns < r.time)
        return Fail(r, "le temps recule à « " + token + " »");
    if (!Flush(r))
        return false;
    r.time = ns;
    return true;
}

bool Change(VcdReader& r, const std::string& token)
{
    std::string code = token.substr(1);
    if (code.empty())
        return Fail(r, "changement sans code de fil « " + token + " »");
    auto it = r.ids.find(code);
    if (it == r.ids.end())
        return true;
    bool low = token[0] == '0';  // x and z: released, the input's pull-up holds it high
    unsigned bit = 1u << it->second;
    r.pulledLow = low ? r.pulledLow | bit : r.pulledLow & ~bit;
    r.changed = true;
    return true;
}

bool Token(VcdReader& r, const std::string& t)
{
    std::string skipped;
    std::vector<std::string> tokens;
    if (t == "$timescale")
        return Section(r, t, &tokens) && Timescale(r, tokens);
    if (t == "$var")
        return Section(r, t, &tokens) && Declare(r, tokens);
    if (t == "$dumpvars" || t == "$dumpall" || t == "$dumpon" || t == "$dumpoff" || t == "$end")
        return true;  // value changes follow, then a lone $end
    if (t[0] == '$')
        return Section(r, t, &tokens);
    if (t[0] == '#')
        return Time(r, t);
    if (strchr("01xXzZ", t[0]))
        return Change(r, t);
    if (strchr("bBrR", t[0]))
        return Next(r, &skipped) || Fail(r, "changement de vecteur sans code de fil");
    return Fail(r, "jeton inattendu « " + t.substr(0, 40) + " »");
}

}  // namespace

bool ParseStimulusVcd(const std::string& text, Stimulus* out, std::string* error)
{
    *out = Stimulus{ {}, 0, 1 };
    VcdReader r{ text, 0, 0, 1, {}, 0, 0, 0, false, out, error };
    std::string t;
    while (Next(r, &t))
        if (!Token(r, t))
            return false;
    if (!Flush(r))
        return false;
    if (r.declared == 0)
        return Fail(r, "aucune des entrées nError, Select, PaperOut, nAck, Busy dans ce Value Change Dump");
    if (out->steps.empty())
        return Fail(r, "les entrées ne prennent aucune valeur dans ce Value Change Dump");
    out->roundNs = r.time;
    return true;
}
