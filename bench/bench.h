// Pieces shared by the parts of the benchmark: the clock, summaries of
// samples, and the rows of the result table. Every figure is entered as a row
// with the ideal or the platform's own limit measured in the same run, and the
// verdict on which of the two, the program or the platform, holds it back.
#ifndef BENCH_H
#define BENCH_H

#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "sharedport.h"  // SharedPortNow, the clock

struct Summary {
    double mean;
    double worst;  // the largest sample
    double best;   // the smallest sample
    size_t count;
};

double TicksMs(LONG64 ticks);               // counter ticks as milliseconds
Summary Summarise(const std::vector<double>& samples);
double Percentile(std::vector<double> samples, double fraction);  // 0.99: the 99th percentile
std::vector<double> Gaps(const std::vector<LONG64>& stamps);  // ms between successive stamps
std::string Text(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
void Progress(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));  // stderr

// True when the program's part of the excess over the ideal (measured minus
// what the platform alone achieves) outweighs the platform's part.
bool ProgramLimits(double measured, double ideal, double platform);

// One figure for the machine-readable file beside the table (name, value and
// unit, tab-separated, one a line), so that two runs compare by script.
void AddFigure(const char* name, double value, const char* unit);

void AddSection(const std::string& title);
void AddNote(const std::string& note);  // printed under the table
void AddRow(const std::string& figure, const std::string& measured, const std::string& limit,
            const std::string& limitedBy);

// A program of the build started by the bench (program_bench.cpp).
struct Started {
    PROCESS_INFORMATION process;
    LONG64 start;  // QueryPerformanceCounter just before CreateProcess
};
bool Launch(const char* exe, Started* s);  // from the bench's own folder
void Stop(Started* s);                     // terminates it and closes its handles
bool WindowShown(const Started& s);        // it has a visible top-level window

struct CpuMark {
    double process;  // GetProcessTimes of the process
    double threads;  // the sum over its threads
    double own;      // GetProcessTimes of this process
};
CpuMark CpuNow(const Started& s);
// Percent of one processor between two marks over wallS seconds.
double CpuPercent(const CpuMark& before, const CpuMark& after, double wallS, bool* fromThreads);

// Looks at pred about every millisecond, dispatching this process's own
// messages meanwhile, until it holds or the deadline passes.
template <class Pred> bool WaitPumping(Pred pred, DWORD timeoutMs)
{
    LONG64 start = SharedPortNow();
    while (!pred()) {
        if (TicksMs(SharedPortNow() - start) > timeoutMs)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

// Parts of the run, in this order. The timings of the operations inside this
// process (effects_bench.cpp) and those of the real program run in processes
// of their own (program_bench.cpp), which need the platform's timer figures.
struct TimerFigures {
    Summary barePeriodMs;  // a bare SetTimer(1 ms) window's period
};
TimerFigures BenchInProcess();
void BenchProgram(const TimerFigures& timers);
void BenchStartupPhases();
void BenchVirtualBench();
void BenchChain();  // chain_bench.cpp
void BenchRealProgram();  // realport_program.cpp: only inside the emulated port's fixture

#endif
