// Native tests' side of another program: run it with its output captured and
// a time limit, or wait on a condition with a deadline.
#ifndef CHILDRUN_H
#define CHILDRUN_H

#include <sys/types.h>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct ChildRun {
    pid_t pid = -1;
    int out = -1, err = -1;  // read ends of its standard output and error
    std::string stdoutText, stderrText;
    int code = -1;           // exit code; 128 + signal; -1 while it runs or if killed at the limit
};

// Starts `path` with the arguments (argv[0] is the path).
bool StartChild(ChildRun* c, const std::string& path, const std::vector<std::string>& args);
// Reads its output until it ends, or kills it after timeoutMs; true if it ended by itself.
bool FinishChild(ChildRun* c, int timeoutMs);
// Starts and finishes; its exit code (-1 if it had to be killed).
int RunChild(const std::string& path, const std::vector<std::string>& args, std::string* out,
             std::string* err, int timeoutMs);

// Polls `pred` every millisecond until it holds or `ms` have passed.
template <class Pred> bool WaitUntil(Pred pred, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#endif
