// Facts the tests and benchmarks share: how long a wait on a condition may
// last, and what each light effect writes in one pass. Portable C++.
#ifndef TESTFACTS_H
#define TESTFACTS_H

#include <cstdlib>
#include <vector>

constexpr double TEST_TIME_SCALE_MAX = 1000;  // larger factors are taken for typing errors

// TRAVEK_TEST_TIME_SCALE, a positive factor that stretches every bound below
// on a slow or busy machine; 1 when unset or not a number in (0, 1000].
inline double TestTimeScale()
{
    static const double scale = [] {
        const char* text = std::getenv("TRAVEK_TEST_TIME_SCALE");
        if (text == nullptr || *text == '\0')
            return 1.0;
        char* end = nullptr;
        double value = std::strtod(text, &end);
        if (*end != '\0' || !(value > 0) || value > TEST_TIME_SCALE_MAX)
            return 1.0;
        return value;
    }();
    return scale;
}

inline unsigned ScaledMs(unsigned ms)
{
    return static_cast<unsigned>(ms * TestTimeScale() + 0.5);
}

// Bounds, in ms, of waits on a condition (never pauses): each wait returns
// as soon as its condition holds.
inline unsigned WaitMs() { return ScaledMs(5000); }        // what follows an action: writes, a redraw, a read
inline unsigned WaitLongMs() { return ScaledMs(10000); }   // a program or helper that starts, answers or ends
inline unsigned WaitStartMs() { return ScaledMs(20000); }  // a program's first window, a whole run of steps

// The values each effect writes in one pass, in order: a light running up
// and back, running up, pairs from the middle outwards.
inline const std::vector<int> K2000_PASS = { 1, 2, 4, 8, 16, 32, 64, 128, 128, 64, 32, 16, 8, 4, 2, 1 };
inline const std::vector<int> CHENILLARD_PASS = { 1, 2, 4, 8, 16, 32, 64, 128 };
inline const std::vector<int> FONTAINE_PASS = { 24, 36, 66, 129 };

#endif
