// play's stimulus files, timed text or Value Change Dump, as a user writes
// them: either refused with a message, or steps in time order within the
// round, a round count in range and a whole play of bounded length.
#include <string>
#include "fuzzstate.h"
#include "stimulus.h"

constexpr int32_t STATUS_LOW = -32768, STATUS_HIGH = 65535;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    Stimulus s;
    std::string error;
    if (!ParseStimulus(text, &s, &error)) {
        FuzzCheck(!error.empty(), "refused without a message");
        return 0;
    }
    FuzzCheck(!s.steps.empty() && s.steps.size() <= STIMULUS_STEPS_MAX, "step count");
    FuzzCheck(s.rounds >= 1 && s.rounds <= STIMULUS_ROUNDS_MAX, "round count");
    FuzzCheck(s.roundNs >= 0 && s.roundNs <= STIMULUS_TOTAL_MAX_NS, "round length");
    FuzzCheck(s.roundNs == 0 || s.rounds <= STIMULUS_TOTAL_MAX_NS / s.roundNs, "whole play too long");
    int64_t previous = 0;
    for (const StimulusStep& step : s.steps) {
        FuzzCheck(step.atNs >= previous && step.atNs <= s.roundNs, "step out of order or past the round");
        FuzzCheck(step.status >= STATUS_LOW && step.status <= STATUS_HIGH, "status out of range");
        previous = step.atNs;
    }
    return 0;
}
