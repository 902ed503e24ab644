#include "switches.h"
#include "sensorcodes.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

const StatusInputInfo STATUS_INPUTS[INPUT_COUNT] = {
    { "nError", 15, 3, false },
    { "Select", 13, 4, false },
    { "PaperOut", 12, 5, false },
    { "nAck", 10, 6, false },
    { "Busy", 11, 7, true },
};

int32_t StatusFromSwitches(unsigned pulledLow)
{
    int32_t status = 0x07;
    for (int i = 0; i < INPUT_COUNT; ++i) {
        bool high = (pulledLow & (1u << i)) == 0;
        if (high != STATUS_INPUTS[i].inverted)
            status |= 1 << STATUS_INPUTS[i].bit;
    }
    return status;
}

bool InputIsHigh(int32_t status, int input)
{
    bool bit = (status >> STATUS_INPUTS[input].bit) & 1;
    return bit != STATUS_INPUTS[input].inverted;
}

unsigned SwitchesFromStatus(int32_t status)
{
    unsigned pulledLow = 0;
    for (int i = 0; i < INPUT_COUNT; ++i)
        if (!InputIsHigh(status, i))
            pulledLow |= 1u << i;
    return pulledLow;
}

// ASCII comparison without case, the same on every system.
static bool SameName(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char ca = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + ('a' - 'A')) : *a;
        char cb = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + ('a' - 'A')) : *b;
        if (ca != cb)
            return false;
    }
    return *a == *b;
}

int FindStatusInput(const char* name)
{
    for (int i = 0; i < INPUT_COUNT; ++i)
        if (SameName(name, STATUS_INPUTS[i].name))
            return i;
    return -1;
}

int SensorForStatus(int32_t status)
{
    for (const SensorCode& code : SENSOR_CODES)
        if (status == code.value)
            return code.slot - FIRST_SENSOR_SLOT + 1;
    return 0;
}

bool ParseWholeNumber(const char* text, long* out)
{
    if (*text == '\0')
        return false;
    bool hex = (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'));
    if (hex && text[2] == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || (hex && text[2] == '-'))
        return false;
    *out = v;
    return true;
}

static bool LooksNumeric(const char* text)
{
    return (text[0] >= '0' && text[0] <= '9') || text[0] == '-' || text[0] == '+';
}

bool ParseStatusArguments(int count, const char* const* args, int32_t* value, std::string* error)
{
    if (count == 0) {
        *error = "il manque une valeur ou des noms d'entrées";
        return false;
    }
    if (count == 1 && LooksNumeric(args[0])) {
        long v = 0;
        if (!ParseWholeNumber(args[0], &v)) {
            *error = std::string("valeur illisible : ") + args[0];
            return false;
        }
        if (v < -32768 || v > 65535) {
            *error = std::string("valeur hors de -32768 à 65535 : ") + args[0];
            return false;
        }
        *value = static_cast<int32_t>(v);
        return true;
    }
    unsigned pulledLow = 0;
    for (int i = 0; i < count; ++i) {
        int input = FindStatusInput(args[i]);
        if (input < 0) {
            *error = std::string("entrée inconnue : ") + args[i] +
                     " (attendu : nError, Select, PaperOut, nAck, Busy, ou une seule valeur)";
            return false;
        }
        pulledLow |= 1u << input;
    }
    *value = StatusFromSwitches(pulledLow);
    return true;
}

std::string ByteBits(unsigned value)
{
    std::string s;
    for (int bit = 7; bit >= 0; --bit) {
        s += ((value >> bit) & 1) ? '1' : '0';
        if (bit == 4)
            s += ' ';
    }
    return s;
}
