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

struct Summary {
    double mean;
    double worst;  // the largest sample
    double best;   // the smallest sample
    size_t count;
};

LONG64 Now();                               // QueryPerformanceCounter
double TicksMs(LONG64 ticks);               // counter ticks as milliseconds
Summary Summarise(const std::vector<double>& samples);
std::vector<double> Gaps(const std::vector<LONG64>& stamps);  // ms between successive stamps
std::string Text(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
void Progress(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));  // stderr

// True when the program's part of the excess over the ideal (measured minus
// what the platform alone achieves) outweighs the platform's part.
bool ProgramLimits(double measured, double ideal, double platform);

void AddSection(const std::string& title);
void AddNote(const std::string& note);  // printed under the table
void AddRow(const std::string& figure, const std::string& measured, const std::string& limit,
            const std::string& limitedBy);

// Parts of the run, in this order. The timings of the operations inside this
// process (effects_bench.cpp) and those of the real program run in processes
// of their own (program_bench.cpp), which need the platform's timer figures.
struct TimerFigures {
    Summary barePeriodMs;  // a bare SetTimer(1 ms) window's period
};
TimerFigures BenchInProcess();
void BenchProgram(const TimerFigures& timers);
void BenchChain();  // chain_bench.cpp

#endif
