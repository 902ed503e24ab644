// The port's configuration; see portconfig.h.
#include "portconfig.h"
#include <stdio.h>
#include <string.h>

constexpr char NAME_PORT[] = "TRAVEK_PORT";
constexpr char NAME_BASE[] = "TRAVEK_PORT_BASE";
constexpr int HEX = 16, DECIMAL = 10;
constexpr size_t MAX_DIGITS = 8;  // far beyond PORT_BASE_MAX, short of overflow

static bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

static int DigitValue(char c, int radix)
{
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    return v < radix ? v : -1;
}

bool ParsePortBase(const char* text, const char* origin, uint32_t* base, char* message, size_t size)
{
    const char* digits = text;
    int radix = DECIMAL;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = text + 2;
        radix = HEX;
    }
    size_t n = strlen(digits);
    uint32_t value = 0;
    bool ok = n > 0 && n <= MAX_DIGITS;
    for (size_t i = 0; ok && i < n; ++i) {
        int d = DigitValue(digits[i], radix);
        ok = d >= 0;
        value = value * static_cast<uint32_t>(radix) + static_cast<uint32_t>(d);
    }
    if (!ok) {
        snprintf(message, size, "%s : « %.64s » n'est pas une adresse (décimale, ou hexadécimale avec 0x, "
                 "par exemple 0x378)", origin, text);
        return false;
    }
    if (value < PORT_BASE_MIN || value > PORT_BASE_MAX) {
        snprintf(message, size, "%s : l'adresse 0x%X est hors limites (de 0x%X à 0x%X)", origin, value,
                 PORT_BASE_MIN, PORT_BASE_MAX);
        return false;
    }
    *base = value;
    return true;
}

constexpr char DEVICE_FOLDER[] = "/dev/";
constexpr char SHORT_DEVICE[] = "parport";
constexpr size_t SHORT_DEVICE_DIGITS = 3;  // parport0 to parport999
constexpr char ACCEPTED_FORMS[] = "donnez sim, direct, le chemin d'une bibliothèque .dll, le chemin absolu "
                                  "d'un périphérique ppdev (/dev/parport0) ou parportN";

static bool EndsWithDll(const char* value, size_t n)
{
    const char* ext = value + n - 4;
    return n > 4 && ext[0] == '.' && (ext[1] | 0x20) == 'd' && (ext[2] | 0x20) == 'l' && (ext[3] | 0x20) == 'l';
}

// "parportN": true with the device's path in out.
static bool ShortDevice(const char* value, size_t n, char* out, size_t size)
{
    size_t prefix = strlen(SHORT_DEVICE);
    if (n <= prefix || n > prefix + SHORT_DEVICE_DIGITS || strncmp(value, SHORT_DEVICE, prefix) != 0)
        return false;
    for (size_t i = prefix; i < n; ++i)
        if (value[i] < '0' || value[i] > '9')
            return false;
    snprintf(out, size, "%s%s", DEVICE_FOLDER, value);
    return true;
}

static bool HasControlCharacter(const char* value, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(value[i]) < 0x20)
            return true;
    return false;
}

bool ParsePortName(const char* text, const char* origin, PortName* out, char* message, size_t size)
{
    size_t n = strnlen(text, sizeof out->target);
    snprintf(out->target, sizeof out->target, "%s", text);
    out->backend = PORT_BACKEND_PPDEV;
    if (n == 0) {
        snprintf(message, size, "%s est vide : %s", origin, ACCEPTED_FORMS);
        return false;
    }
    if (n < sizeof out->target && !HasControlCharacter(text, n)) {
        if (strcmp(text, "sim") == 0 || strcmp(text, "direct") == 0) {
            out->backend = text[0] == 's' ? PORT_BACKEND_SIMULATED : PORT_BACKEND_DIRECT;
            return true;
        }
        if (EndsWithDll(text, n)) {
            out->backend = PORT_BACKEND_CHAINED;
            return true;
        }
        if ((text[0] == '/' && n > 1) || ShortDevice(text, n, out->target, sizeof out->target))
            return true;
    }
    snprintf(message, size, "%s : « %.40s » n'est pas un nom de port : %s", origin, text, ACCEPTED_FORMS);
    return false;
}

// The line [begin, end) without surrounding spaces.
static void Trim(const char** begin, const char** end)
{
    while (*begin < *end && IsSpace(**begin))
        ++*begin;
    while (*end > *begin && IsSpace((*end)[-1]))
        --*end;
}

// Stores one "name=value" line into its setting.
static bool ParseLine(const char* b, const char* e, int line, PortSetting* port, PortSetting* base,
                      char* message, size_t size)
{
    const char* eq = static_cast<const char*>(memchr(b, '=', static_cast<size_t>(e - b)));
    if (!eq) {
        snprintf(message, size, "%s, ligne %d : « NOM=valeur » attendu", PORT_CONFIG_FILE, line);
        return false;
    }
    const char *nb = b, *ne = eq, *vb = eq + 1, *ve = e;
    Trim(&nb, &ne);
    Trim(&vb, &ve);
    size_t nameLen = static_cast<size_t>(ne - nb), valueLen = static_cast<size_t>(ve - vb);
    PortSetting* s = nameLen == strlen(NAME_PORT) && memcmp(nb, NAME_PORT, nameLen) == 0 ? port
                   : nameLen == strlen(NAME_BASE) && memcmp(nb, NAME_BASE, nameLen) == 0 ? base : nullptr;
    if (!s) {
        snprintf(message, size, "%s, ligne %d : nom inconnu « %.*s » (TRAVEK_PORT ou TRAVEK_PORT_BASE)",
                 PORT_CONFIG_FILE, line, static_cast<int>(nameLen > 40 ? 40 : nameLen), nb);
        return false;
    }
    if (s->set || valueLen >= sizeof(s->value)) {
        snprintf(message, size, "%s, ligne %d : %s", PORT_CONFIG_FILE, line,
                 s->set ? "nom déjà donné plus haut" : "valeur trop longue");
        return false;
    }
    s->set = true;
    memcpy(s->value, vb, valueLen);
    s->value[valueLen] = '\0';
    snprintf(s->origin, sizeof s->origin, "%s, ligne %d", PORT_CONFIG_FILE, line);
    return true;
}

bool ParsePortConfigFile(const char* text, size_t len, PortSetting* port, PortSetting* base,
                         char* message, size_t size)
{
    *port = PortSetting{};
    *base = PortSetting{};
    if (len > PORT_CONFIG_FILE_MAX) {
        snprintf(message, size, "%s : fichier trop long (plus de %u octets)", PORT_CONFIG_FILE,
                 static_cast<unsigned>(PORT_CONFIG_FILE_MAX));
        return false;
    }
    const char* end = text + len;
    int line = 0;
    for (const char* b = text; b < end; ) {
        const char* nl = static_cast<const char*>(memchr(b, '\n', static_cast<size_t>(end - b)));
        const char* e = nl ? nl : end;
        ++line;
        const char *tb = b, *te = e;
        Trim(&tb, &te);
        if (memchr(tb, '\0', static_cast<size_t>(te - tb))) {
            snprintf(message, size, "%s, ligne %d : caractère nul", PORT_CONFIG_FILE, line);
            return false;
        }
        if (tb < te && *tb != '#' && !ParseLine(tb, te, line, port, base, message, size))
            return false;
        b = nl ? nl + 1 : end;
    }
    return true;
}

static void Fail(PortConfig* out, const char* message)
{
    out->fault = PORT_FAULT_CONFIG;
    snprintf(out->message, sizeof out->message, "%s", message);
}

void ResolvePortConfig(const PortSetting& envPort, const PortSetting& envBase, const PortSetting& filePort,
                       const PortSetting& fileBase, PortConfig* out)
{
    *out = PortConfig{};
    out->base = PORT_BASE_DEFAULT;
    const PortSetting& port = envPort.set ? envPort : filePort;
    const PortSetting& base = envBase.set ? envBase : fileBase;
    snprintf(out->target, sizeof out->target, "%s", port.set ? port.value : "sim");
    char m[PORTSTATE_TEXT];
    PortName name;
    if (port.set && !ParsePortName(port.value, port.origin, &name, m, sizeof m)) {
        Fail(out, m);
        return;
    }
    if (port.set) {
        out->backend = name.backend;
        snprintf(out->target, sizeof out->target, "%s", name.target);
    }
    if (base.set && !ParsePortBase(base.value, base.origin, &out->base, m, sizeof m))
        Fail(out, m);
}
