#include "numbertexts.h"

Expected NumberRule(const std::string& text)
{
    long long value = 0;
    for (char c : text.substr(0, NUMBER_READ_CHARS)) {
        if (c < '0' || c > '9')
            return Expected{ false, 0 };
        value = (value * 10 + (c - '0')) % NUMBER_RANGE;
    }
    return Expected{ true, static_cast<int>(value) };
}

std::mt19937& TextRng()
{
    static std::mt19937 rng;  // seeded by the test that uses it
    return rng;
}

int Pick(int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(TextRng());
}

std::string Digits(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>('0' + Pick(0, 9));
    return s;
}

char NonDigit()
{
    static const std::string pool = " +-.,eExX_/:;aZ\xa0\xe9\xe8\xe0\xff\xb2\xbd\xbc";
    return pool[Pick(0, static_cast<int>(pool.size()) - 1)];
}
