// portctl's command line; see args.h.
#include "args.h"
#include <stdlib.h>
#include <string.h>
#include "switches.h"

constexpr long BYTE_MAX = 0xFF;
constexpr int DIGITS_MAX = 12;  // of a duration: far beyond a day in microseconds

static bool Fail(std::string* error, const char* message)
{
    *error = message;
    return false;
}

static bool IsHelp(const char* command)
{
    return strcmp(command, "aide") == 0 || strcmp(command, "-h") == 0 ||
           strcmp(command, "--help") == 0 || strcmp(command, "/?") == 0;
}

bool ParseDuration(const char* text, int64_t* ns)
{
    int64_t n = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        if (digits == DIGITS_MAX)
            return false;
        n = n * 10 + (*text - '0');
    }
    if (digits == 0)
        return false;
    int64_t unit = strcmp(text, "us") == 0 ? NS_PER_US
                 : strcmp(text, "ms") == 0 || *text == '\0' ? NS_PER_MS
                 : strcmp(text, "s") == 0 ? NS_PER_S : 0;
    if (unit == 0 || n > DURATION_MAX_NS / unit)
        return false;
    *ns = n * unit;
    return true;
}

static bool ParseByte(const char* text, long* out)
{
    return ParseWholeNumber(text, out) && *out >= 0 && *out <= BYTE_MAX;
}

bool ParseDataCondition(const char* text, DataCondition* out, std::string* error)
{
    static const char PREFIX[] = "data";
    std::string t = text;
    if (t.compare(0, strlen(PREFIX), PREFIX) != 0 || t.size() == strlen(PREFIX))
        return Fail(error, "condition attendue : data=VALEUR, data&MASQUE ou data&MASQUE=VALEUR");
    std::string rest = t.substr(strlen(PREFIX));
    long mask = BYTE_MAX, value = 0;
    size_t eq = rest.find('=');
    std::string maskText = rest[0] == '&' ? rest.substr(1, eq == std::string::npos ? eq : eq - 1) : "";
    if (rest[0] != '&' && rest[0] != '=')
        return Fail(error, "condition attendue : data=VALEUR, data&MASQUE ou data&MASQUE=VALEUR");
    if (rest[0] == '&' && (!ParseByte(maskText.c_str(), &mask) || mask == 0))
        return Fail(error, "masque illisible : un nombre de 1 à 255 (décimal ou 0x..) après data&");
    if (eq == std::string::npos) {
        value = mask;
    } else if (!ParseByte(rest.c_str() + eq + 1, &value)) {
        return Fail(error, "valeur illisible : un nombre de 0 à 255 (décimal ou 0x..) après =");
    }
    if ((value & ~mask) != 0)
        return Fail(error, "la valeur a des bits hors du masque : la condition ne serait jamais remplie");
    *out = DataCondition{ static_cast<uint8_t>(mask), static_cast<uint8_t>(value) };
    return true;
}

static bool ParseFollow(int count, const char* const* args, PortctlArgs* out, std::string* error)
{
    out->command = PORTCTL_FOLLOW;
    out->limit = -1;
    if (count > 1)
        return Fail(error, "suivre prend au plus un argument");
    if (count == 1) {
        char* end = nullptr;
        out->limit = strtol(args[0], &end, 10);
        if (*args[0] == '\0' || *end != '\0' || out->limit <= 0)
            return Fail(error, "suivre N : N doit être un nombre d'écritures positif");
    }
    return true;
}

static bool ParseWait(int count, const char* const* args, PortctlArgs* out, std::string* error)
{
    out->command = PORTCTL_WAIT;
    if (count != 1 && count != 3)
        return Fail(error, "wait CONDITION [within DURÉE], par exemple wait data=0x04 within 200ms");
    if (!ParseDataCondition(args[0], &out->condition, error))
        return false;
    if (count == 3 && strcmp(args[1], "within") != 0)
        return Fail(error, "wait : « within DURÉE » attendu après la condition");
    if (count == 3 && !ParseDuration(args[2], &out->withinNs))
        return Fail(error, "durée illisible après within : par exemple 200ms, 2s (au plus un jour)");
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; null if
// args[*i] is not that option. *missing is set when the value is absent.
static const char* OptionValue(const char* name, int count, const char* const* args, int* i, bool* missing)
{
    size_t n = strlen(name);
    if (strncmp(args[*i], name, n) != 0)
        return nullptr;
    if (args[*i][n] == '=')
        return args[*i] + n + 1;
    if (args[*i][n] != '\0')
        return nullptr;
    if (*i + 1 >= count) {
        *missing = true;
        return nullptr;
    }
    return args[++*i];
}

static bool ParseSelftest(int count, const char* const* args, PortctlArgs* out, std::string* error)
{
    out->command = PORTCTL_SELFTEST;
    bool stepGiven = false;
    for (int i = 0; i < count; ++i) {
        bool missing = false;
        const char* v;
        if ((v = OptionValue("--port", count, args, &i, &missing))) {
            if (out->port || *v == '\0')
                return Fail(error, out->port ? "--port donné deux fois" : "--port : nom du port vide");
            out->port = v;
        } else if ((v = OptionValue("--step", count, args, &i, &missing))) {
            if (!ParseDuration(v, &out->stepNs) || out->stepNs == 0)
                return Fail(error, "--step : durée illisible, par exemple 500ms ou 2s");
            stepGiven = true;
        } else if (!missing && strcmp(args[i], "--leds") == 0) {
            out->leds = true;
        } else {
            *error = missing ? std::string(args[i]) + " : il manque sa valeur"
                             : std::string("selftest : option inconnue ") + args[i];
            return false;
        }
    }
    return !stepGiven || out->leds || Fail(error, "--step ne sert qu'avec --leds");
}

bool ParsePortctlArguments(int argc, const char* const* argv, PortctlArgs* out, std::string* error)
{
    *out = PortctlArgs{};
    if (argc < 2)
        return Fail(error, "il manque la commande");
    const char* command = argv[1];
    int count = argc - 2;
    const char* const* args = argv + 2;
    if (IsHelp(command))
        return true;
    if (strcmp(command, "etat") == 0) {
        out->command = count == 0 ? PORTCTL_SHOW_STATUS : PORTCTL_SET_STATUS;
        return count == 0 || ParseStatusArguments(count, args, &out->status, error);
    }
    if (strcmp(command, "port") == 0) {
        out->command = PORTCTL_SHOW_PORT;
        return count == 0 || Fail(error, "port ne prend pas d'argument");
    }
    if (strcmp(command, "donnees") == 0) {
        out->command = PORTCTL_SHOW_DATA;
        return count == 0 || Fail(error, "donnees ne prend pas d'argument");
    }
    if (strcmp(command, "suivre") == 0)
        return ParseFollow(count, args, out, error);
    if (strcmp(command, "vcd") == 0 || strcmp(command, "play") == 0) {
        bool vcd = command[0] == 'v';
        out->command = vcd ? PORTCTL_VCD : PORTCTL_PLAY;
        out->file = count == 1 ? args[0] : nullptr;
        return count == 1 || Fail(error, vcd ? "vcd prend un nom de fichier (ou -)" : "play prend un nom de fichier");
    }
    if (strcmp(command, "wait") == 0)
        return ParseWait(count, args, out, error);
    if (strcmp(command, "selftest") == 0)
        return ParseSelftest(count, args, out, error);
    *error = std::string("commande inconnue : ") + command;
    return false;
}
