// The timed text of play, and reading the file; see stimulus.h.
#include "stimulus.h"
#include <stdio.h>
#include <string.h>
#include "args.h"
#include "switches.h"

constexpr size_t LINE_WORDS_MAX = 8;  // "+1s" and at most the five input names, with room

static bool Fail(std::string* error, int line, const std::string& message)
{
    *error = "ligne " + std::to_string(line) + " : " + message;
    return false;
}

// The words of a line, up to its comment.
static std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t end = line.find('#');
    std::string body = line.substr(0, end);
    size_t at = 0;
    while (at < body.size()) {
        size_t b = body.find_first_not_of(" \t\r", at);
        if (b == std::string::npos)
            break;
        size_t e = body.find_first_of(" \t\r", b);
        if (e == std::string::npos)
            e = body.size();
        words.push_back(body.substr(b, e - b));
        at = e;
    }
    return words;
}

static bool ParseRepeat(const std::vector<std::string>& w, int line, Stimulus* out, bool* seen,
                        std::string* error)
{
    long n = 0;
    if (*seen)
        return Fail(error, line, "repeat déjà donné plus haut");
    if (w.size() != 2 || !ParseWholeNumber(w[1].c_str(), &n) || n < 1 || n > STIMULUS_ROUNDS_MAX)
        return Fail(error, line, "repeat N : N de 1 à " + std::to_string(STIMULUS_ROUNDS_MAX));
    out->rounds = n;
    *seen = true;
    return true;
}

// One "+DURÉE [VALEUR]" line; *ended once the round's end mark is read.
static bool ParseStep(const std::vector<std::string>& w, int line, Stimulus* out, int64_t* at,
                      bool* ended, std::string* error)
{
    int64_t delay = 0;
    if (*ended)
        return Fail(error, line, "aucune étape après la fin du tour (« +DURÉE » seul)");
    if (!ParseDuration(w[0].c_str() + 1, &delay))
        return Fail(error, line, "durée illisible « " + w[0] + " » : par exemple +0, +500ms, +2s, +250us");
    if (*at > STIMULUS_TOTAL_MAX_NS - delay)
        return Fail(error, line, "le tour dure trop longtemps");
    *at += delay;
    if (w.size() == 1) {
        *ended = true;
        return true;
    }
    if (w.size() > LINE_WORDS_MAX)
        return Fail(error, line, "trop de mots");
    std::vector<const char*> args;
    for (size_t i = 1; i < w.size(); ++i)
        args.push_back(w[i].c_str());
    int32_t status = 0;
    std::string why;
    if (!ParseStatusArguments(static_cast<int>(args.size()), args.data(), &status, &why))
        return Fail(error, line, why);
    if (out->steps.size() >= STIMULUS_STEPS_MAX)
        return Fail(error, line, "plus de " + std::to_string(STIMULUS_STEPS_MAX) + " étapes");
    out->steps.push_back(StimulusStep{ *at, status });
    return true;
}

bool ParseTimedText(const std::string& text, Stimulus* out, std::string* error)
{
    *out = Stimulus{ {}, 0, 1 };
    int64_t at = 0;
    bool ended = false, repeatSeen = false;
    int line = 0;
    for (size_t b = 0; b < text.size();) {
        size_t nl = text.find('\n', b);
        size_t e = nl == std::string::npos ? text.size() : nl;
        ++line;
        std::vector<std::string> w = Words(text.substr(b, e - b));
        b = e + 1;
        if (w.empty())
            continue;
        bool ok = w[0] == "repeat" ? ParseRepeat(w, line, out, &repeatSeen, error)
                : w[0][0] == '+' ? ParseStep(w, line, out, &at, &ended, error)
                : Fail(error, line, "« +DURÉE VALEUR », « +DURÉE » ou « repeat N » attendu, pas « " + w[0] + " »");
        if (!ok)
            return false;
    }
    if (out->steps.empty()) {
        *error = "aucune étape (par exemple « +0 119 »)";
        return false;
    }
    out->roundNs = at;
    if (out->roundNs > 0 && out->rounds > STIMULUS_TOTAL_MAX_NS / out->roundNs) {
        *error = "repeat " + std::to_string(out->rounds) + " : la lecture durerait trop longtemps";
        return false;
    }
    return true;
}

bool ParseStimulus(const std::string& text, Stimulus* out, std::string* error)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '$')
        return ParseStimulusVcd(text, out, error);
    return ParseTimedText(text, out, error);
}

bool ReadWholeFile(const char* path, size_t max, std::string* text, std::string* error)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        *error = std::string("impossible de lire ") + path;
        return false;
    }
    text->clear();
    char buffer[65536];
    size_t n;
    bool tooLong = false;
    while (!tooLong && (n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        tooLong = text->size() + n > max;
        text->append(buffer, tooLong ? 0 : n);
    }
    bool failed = ferror(f) != 0;
    fclose(f);
    if (tooLong || failed) {
        *error = std::string(path) + (tooLong ? " : fichier trop long (plus de " + std::to_string(max) + " octets)"
                                              : " : erreur de lecture");
        return false;
    }
    return true;
}
