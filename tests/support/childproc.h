// Other programs of the build folder run from a test: with their output
// captured, or left running (the virtual bench).
#ifndef CHILDPROC_H
#define CHILDPROC_H

#include <windows.h>
#include <string>
#include "testwin.h"

// Runs a program of the test folder with the arguments and waits for it;
// returns its exit code (-1 if it could not start) and its standard output
// and error, merged, in *output.
int RunTool(const std::string& exe, const std::string& args, std::string* output);

// A program left running with its merged output on a pipe.
struct Child {
    PROCESS_INFORMATION process;
    HANDLE output;  // read end of the pipe, or null
};

bool StartTool(Child& c, const std::string& exe, const std::string& args, bool captureOutput);
// Reads what is available until `until` appears in *text or the time is up.
bool ReadUntil(Child& c, std::string* text, const std::string& until, DWORD timeoutMs);
// Waits for the end, terminating the program after the time; returns its exit code.
int FinishTool(Child& c, DWORD timeoutMs);

// The text without its trailing line ends.
std::string TrimLineEnds(std::string text);

// Runs portpeer with the arguments: what it printed, line ends trimmed, or
// "exit N" when it ends with a code N other than 0.
std::string Peer(const std::string& args);

#endif
