// Drives the real Travek.exe from another process, as a user's tool would:
// finds its window, clicks its controls, types into the number box, answers
// its message boxes, and watches the simulated port.
#ifndef PROGRAM_H
#define PROGRAM_H

#include <windows.h>
#include <string>
#include "testfacts.h"

struct Program {
    PROCESS_INFORMATION process;
    HWND main;
    HWND panel;
    int64_t startMark;  // journal position before the program started
};

// Starts the program (from the test's own folder) and waits for its window and
// panel; false if they do not appear within the deadline.
bool StartProgram(Program& p, const char* exeName = "Travek.exe");
// Only starts the process, for a test that must answer what it shows first.
bool LaunchProgram(Program& p, const char* exeName);
// Waits for the process's main window shown (and its panel if asked).
bool FindProgramWindows(Program& p, bool withPanel, DWORD timeoutMs);
// Starts the program with its stderr in a pipe of pipeBytes (0: the system's
// size), *errRead its reading end; true once its windows are up and answer.
bool StartProgramWithStderr(Program& p, HANDLE* errRead, DWORD pipeBytes = 0);
// Reads a pipe to its end, then closes it.
std::string ReadPipeToEnd(HANDLE pipe);
// Ends the program if it still runs and waits for it.
void StopProgram(Program& p);

// The process's top-level window of the class, or null.
HWND TopWindowOfProcess(DWORD pid, const char* cls);

HWND Control(const Program& p, int id);
// Clicks a button and returns once the click has been handled.
void Click(HWND button);
// Clicks a button without waiting (for clicks that open a message box).
void ClickLater(HWND button);
// Replaces the number box's text by typing it.
void TypeText(HWND edit, const std::string& text);
std::wstring TextOf(HWND window);

// A top-level dialog (message box) with this caption, or null after the deadline.
HWND WaitForBox(const wchar_t* caption, DWORD timeoutMs);
std::wstring BoxText(HWND box);
void AnswerBox(HWND box, int button);

// True if the program handles a message within the time.
bool Responds(const Program& p, DWORD timeoutMs);

// Waits for a condition on the shared state, sleeping between looks.
template <class Pred> bool WaitFor(Pred pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(2);
    }
    return true;
}

#endif
