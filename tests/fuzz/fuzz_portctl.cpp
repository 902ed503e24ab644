// portctl's command line: the input's NUL-separated words are its arguments.
#include <string>
#include <vector>
#include "args.h"
#include "fuzzstate.h"

constexpr size_t MAX_WORDS = 10;
constexpr int32_t STATUS_LOW = -32768, STATUS_HIGH = 65535;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words(1, "portctl");
    std::string word;
    for (size_t i = 0; i < size && words.size() < MAX_WORDS; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty() && words.size() < MAX_WORDS)
        words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    PortctlArgs a;
    std::string error;
    if (!ParsePortctlArguments(static_cast<int>(words.size()), argv.data(), &a, &error)) {
        FuzzCheck(!error.empty(), "refused without a message");
        return 0;
    }
    switch (a.command) {
    case PORTCTL_SET_STATUS:
        FuzzCheck(a.status >= STATUS_LOW && a.status <= STATUS_HIGH, "status value out of range");
        break;
    case PORTCTL_FOLLOW:
        FuzzCheck(a.limit == -1 || a.limit > 0, "bad write count");
        break;
    case PORTCTL_VCD:
    case PORTCTL_PLAY:
        FuzzCheck(a.file != nullptr && words.size() == 3, "vcd or play without its file");
        break;
    case PORTCTL_WAIT:
        FuzzCheck(a.condition.mask != 0 && (a.condition.value & ~a.condition.mask) == 0,
                  "a condition that can never be met");
        FuzzCheck(a.withinNs == -1 || (a.withinNs >= 0 && a.withinNs <= DURATION_MAX_NS), "bad time limit");
        break;
    case PORTCTL_SELFTEST:
        FuzzCheck(a.stepNs > 0 && a.stepNs <= DURATION_MAX_NS, "bad LED step");
        FuzzCheck(a.port == nullptr || *a.port != '\0', "empty port");
        break;
    default:
        break;
    }
    return 0;
}
