// The benchmark's entry: runs its parts and prints the result table on
// standard output (bench/run.sh keeps it in a file); progress goes to stderr.
#include "bench.h"
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>

struct Row {
    std::string cells[4];  // figure, measured, limit, limited by; a section has only the first
    bool section;          // a heading across the whole table
};

struct Figure {
    std::string name;
    double value;
    std::string unit;
};

static std::vector<Row> Rows;
static std::vector<std::string> Notes;
static std::vector<Figure> Figures;  // the machine-readable figures, in the order measured
static const char* const HEADINGS[4] = { "Figure", "Measured", "Ideal or platform's own limit (same run)",
                                         "Limited by" };

double TicksMs(LONG64 ticks)
{
    static LONG64 frequency;
    if (frequency == 0) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        frequency = f.QuadPart;
    }
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency);
}

Summary Summarise(const std::vector<double>& samples)
{
    Summary s = { 0.0, 0.0, 0.0, samples.size() };
    if (samples.empty())
        return s;
    s.worst = s.best = samples[0];
    for (double x : samples) {
        s.mean += x / static_cast<double>(samples.size());
        s.worst = std::max(s.worst, x);
        s.best = std::min(s.best, x);
    }
    return s;
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(rank, samples.size() - 1)];
}

std::vector<double> Gaps(const std::vector<LONG64>& stamps)
{
    std::vector<double> gaps;
    for (size_t i = 1; i < stamps.size(); ++i)
        gaps.push_back(TicksMs(stamps[i] - stamps[i - 1]));
    return gaps;
}

std::string Text(const char* format, ...)
{
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    return buf;
}

void Progress(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
}

bool ProgramLimits(double measured, double ideal, double platform)
{
    return measured - platform > platform - ideal;
}

void AddFigure(const char* name, double value, const char* unit)
{
    Figures.push_back(Figure{ name, value, unit });
}

// One line per figure: name, value and unit separated by tabs.
static bool WriteFigures(const char* path)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    for (const Figure& x : Figures)
        fprintf(f, "%s\t%.6g\t%s\n", x.name.c_str(), x.value, x.unit.c_str());
    return fclose(f) == 0;
}

void AddSection(const std::string& title)
{
    Rows.push_back(Row{ { title, "", "", "" }, true });
}

void AddNote(const std::string& note)
{
    Notes.push_back(note);
}

void AddRow(const std::string& figure, const std::string& measured, const std::string& limit,
            const std::string& limitedBy)
{
    Rows.push_back(Row{ { figure, measured, limit, limitedBy }, false });
}

static void PrintHeader()
{
    typedef const char*(__cdecl * WineVersion)();
    WineVersion version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    SYSTEMTIME now;
    GetLocalTime(&now);
    printf("Travek bench, %04u-%02u-%02u %02u:%02u\n", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
    printf("Platform: %s %s, %d-bit build, %lu processors, performance counter %lld Hz\n\n",
           version ? "Wine" : "Windows", version ? version() : "", static_cast<int>(8 * sizeof(void*)),
           static_cast<unsigned long>(si.dwNumberOfProcessors), static_cast<long long>(frequency.QuadPart));
}

static std::string Line(const std::string cells[4], const size_t widths[4])
{
    std::string line;
    for (int c = 0; c < 4; ++c) {
        line += c == 0 ? "| " : " | ";
        line += cells[c];
        line.append(widths[c] - cells[c].size(), ' ');
    }
    return line + " |";
}

static void PrintTable()
{
    size_t widths[4];
    for (int c = 0; c < 4; ++c) {
        widths[c] = strlen(HEADINGS[c]);
        for (const Row& r : Rows)
            if (!r.section)
                widths[c] = std::max(widths[c], r.cells[c].size());
    }
    std::string headings[4] = { HEADINGS[0], HEADINGS[1], HEADINGS[2], HEADINGS[3] };
    std::string rule[4];
    for (int c = 0; c < 4; ++c)
        rule[c] = std::string(widths[c], '-');
    std::string ruleLine = Line(rule, widths);
    printf("%s\n%s\n", Line(headings, widths).c_str(), ruleLine.c_str());
    for (size_t i = 0; i < Rows.size(); ++i) {
        const Row& r = Rows[i];
        if (r.section) {
            std::string title = "| " + r.cells[0];
            title.resize(std::max(title.size(), ruleLine.size() - 1), ' ');
            if (i > 0)
                printf("%s\n", ruleLine.c_str());
            printf("%s|\n", title.c_str());
        } else {
            printf("%s\n", Line(r.cells, widths).c_str());
        }
    }
    printf("%s\n", ruleLine.c_str());
    printf("\nLimited by: \"program\" when the program's own work (LED redraws, status box updates, window\n"
           "and panel creation) makes up most of the gap to the ideal; \"platform\" when the system does (the\n"
           "precision of Sleep, the 10 ms timer minimum, process start-up, Wine's libraries, or on real\n"
           "hardware the port's bus cycle). Figures of another run may differ by the load of the machine.\n");
    for (const std::string& note : Notes)
        printf("%s\n", note.c_str());
}

static bool Wanted(const char* parts, const char* part)
{
    return !parts || strstr(parts, part) != nullptr;
}

// The optional first argument names the file of machine-readable figures; the
// optional second one lists the parts to run, by name separated by commas
// (effects, program, startup, vbench, chain), all of them by default;
// realport (bench/realport.sh) runs only when named.
int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);  // plain \n line ends in the file
    const char* parts = argc > 2 ? argv[2] : nullptr;
    TimerFigures timers = {};
    if (Wanted(parts, "effects"))
        timers = BenchInProcess();
    if (Wanted(parts, "program"))
        BenchProgram(timers);
    if (Wanted(parts, "startup"))
        BenchStartupPhases();
    if (Wanted(parts, "vbench"))
        BenchVirtualBench();
    if (Wanted(parts, "chain"))
        BenchChain();
    if (parts && strstr(parts, "realport"))  // named only: it needs the emulated port
        BenchRealProgram();
    PrintHeader();
    PrintTable();
    fflush(stdout);
    if (argc > 1 && !WriteFigures(argv[1])) {
        fprintf(stderr, "Cannot write the figures to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
