// The library in front of another port library, and its faults: the real
// program under Wine with TRAVEK_PORT naming the tests' chained library (or
// something wrong), observed through that library's log, the shared state
// and the program's stderr.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "chaintest.h"
#include "program.h"
#include "resource.h"
#include "sharedport.h"
#include "testwin.h"

constexpr int PIPE_BYTES = 65536;

// A program started with a port configuration, its stderr in a pipe.
struct PortRun {
    Program program;
    HANDLE errRead;
};

static void SetVariable(const char* name, const char* value)
{
    SetEnvironmentVariableA(name, value);  // null removes it
}

// Starts the program with the two variables (null: unset).
static bool Launch(PortRun& r, const char* port, const char* base)
{
    SetVariable("TRAVEK_PORT", port);
    SetVariable("TRAVEK_PORT_BASE", base);
    bool ok = StartProgramWithStderr(r.program, &r.errRead, PIPE_BYTES);
    SetVariable("TRAVEK_PORT", nullptr);
    SetVariable("TRAVEK_PORT_BASE", nullptr);
    return ok;
}

// Stops the program and returns what it wrote on stderr.
static std::string Finish(PortRun& r)
{
    StopProgram(r.program);
    return ReadPipeToEnd(r.errRead);
}

static size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The writes the chained library received since call number `from`.
static std::vector<ChainCall> ChainWrites(LONG from)
{
    std::vector<ChainCall> out;
    ChainLog* log = ChainLogAttach();
    for (LONG n = from; n < log->calls; ++n)
        if (log->entries[n % CHAINTEST_CAPACITY].kind == CHAIN_WRITE)
            out.push_back(log->entries[n % CHAINTEST_CAPACITY]);
    return out;
}

static std::string FaultText()
{
    return std::string(SharedPortAttach()->faultText);
}

class ChainedTest : public ::testing::TestWithParam<unsigned> {};

// Clicks, an Envoi and a K2000 pass at delay 0 reach the chained library in
// the journal's order, on the base's registers; its status reaches the panel.
TEST_P(ChainedTest, EveryWriteForwardedInOrderAtTheMappedAddress)
{
    unsigned base = GetParam();
    ChainLog* log = ChainLogAttach();
    ASSERT_NE(log, nullptr);
    InterlockedExchange(&log->status, PORT_STATUS_IDLE);
    LONG from = log->calls;
    char baseText[16];
    wsprintfA(baseText, "0x%X", base);
    PortRun r;
    ASSERT_TRUE(Launch(r, (TestFolder() + CHAINTEST_DLL).c_str(), base == 0x378 ? nullptr : baseText));
    PortState* s = SharedPortAttach();
    EXPECT_EQ(s->backend, PORT_BACKEND_CHAINED);
    EXPECT_EQ(s->base, base);
    EXPECT_EQ(s->fault, PORT_FAULT_NONE);

    Click(Control(r.program, IDC_LED3));
    TypeText(Control(r.program, IDC_NUMBER_BOX), "300");
    Click(Control(r.program, IDC_SEND));
    Click(Control(r.program, IDC_RESET));
    SendMessageA(Control(r.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    int64_t k2000 = JournalMark();
    Click(Control(r.program, IDC_K2000));
    ASSERT_TRUE(WaitFor([&] { return JournalMark() - k2000 >= 2 * static_cast<int64_t>(K2000_PASS.size()); }, WaitMs()));
    Click(Control(r.program, IDC_STOP));
    ASSERT_TRUE(Responds(r.program, WaitMs()));

    std::vector<JournalWrite> journal = JournalSince(r.program.startMark);
    std::vector<ChainCall> chained = ChainWrites(from);
    ASSERT_EQ(chained.size(), journal.size()) << "every journaled write forwarded, no other";
    for (size_t i = 0; i < journal.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(journal[i].port, PORT_DATA);
        EXPECT_EQ(chained[i].port, base);
        EXPECT_EQ(chained[i].value, journal[i].value);
    }
    std::vector<int> values;
    for (const JournalWrite& w : journal)
        if (w.value != 0)
            values.push_back(w.value);
    ASSERT_GE(values.size(), 2u + K2000_PASS.size());
    EXPECT_EQ(values[0], 4);
    EXPECT_EQ(values[1], 300);
    EXPECT_EQ(std::vector<int>(values.begin() + 2, values.begin() + 2 + K2000_PASS.size()), K2000_PASS);

    // Reads reach the base's status register; what it returns reaches the panel.
    InterlockedExchange(&log->status, 119);
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(r.program, IDC_STATUS_BOX)) == L"119"; }, WaitMs()));
    HANDLE idle = reinterpret_cast<HANDLE>(SendMessageA(Control(r.program, IDC_SENSOR1 + 1), BM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_TRUE(WaitFor([&] {
        return reinterpret_cast<HANDLE>(SendMessageA(Control(r.program, IDC_SENSOR1), BM_GETIMAGE, IMAGE_BITMAP, 0)) != idle;
    }, WaitMs())) << "the first sensor lamp lights";
    EXPECT_EQ(s->status, 119) << "the shared state shows the real status";
    bool readsMapped = true;
    for (LONG n = from; n < log->calls; ++n)
        if (log->entries[n % CHAINTEST_CAPACITY].kind == CHAIN_READ)
            readsMapped = readsMapped && log->entries[n % CHAINTEST_CAPACITY].port == base + 1;
    EXPECT_TRUE(readsMapped);
    EXPECT_EQ(Finish(r), "") << "nothing said when all is well";
}

INSTANTIATE_TEST_SUITE_P(Bases, ChainedTest, ::testing::Values(0x378u, 0x278u, 0xD010u));

struct FaultCase {
    const char* name;
    std::string port;
    const char* base;
    PortFaultCode code;
    const char* words;  // part of the message
};

static std::string CopyOfThisLibrary()
{
    std::string copy = TestFolder() + "copie-du-port.dll";
    CopyFileA((TestFolder() + "INPOUT32.dll").c_str(), copy.c_str(), FALSE);
    return copy;
}

// Each fault: its message once on stderr and in the state, the program goes
// on polling, and its writes are all journaled.
TEST(ChainedFaults, EachFaultSaysWhyAndLosesNothing)
{
    const std::string bin = TestFolder();
    // Faulted reads give the status last read: start from the idle one, not
    // from whatever an earlier test of this session left (the soak's random pins).
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
    const FaultCase cases[] = {
        { "missing library", bin + "absente.dll", nullptr, PORT_FAULT_LIBRARY_LOAD, "impossible de charger" },
        { "missing ordinal", bin + CHAINTEST_HALF_DLL, nullptr, PORT_FAULT_ORDINAL, "l'ordinal 2" },
        { "this library again", bin + "INPOUT32.dll", nullptr, PORT_FAULT_LOOP, "en boucle" },
        { "a copy of this library", CopyOfThisLibrary(), nullptr, PORT_FAULT_LOOP, "en boucle" },
        { "base not a number", bin + CHAINTEST_DLL, "0x37G", PORT_FAULT_CONFIG, "TRAVEK_PORT_BASE : « 0x37G »" },
        { "base out of range", bin + CHAINTEST_DLL, "70000", PORT_FAULT_CONFIG, "hors limites" },
        { "empty path", "", nullptr, PORT_FAULT_CONFIG, "TRAVEK_PORT est vide" },
        { "direct access refused", "direct", "0x278", PORT_FAULT_DIRECT_REFUSED, "accès direct au port 0x279 refusé" },
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        LONG chainCalls = ChainLogAttach()->calls;
        PortRun r;
        ASSERT_TRUE(Launch(r, c.port.c_str(), c.base)) << "the program starts and answers";
        PortState* s = SharedPortAttach();
        EXPECT_EQ(s->fault, c.code);
        EXPECT_NE(FaultText().find(c.words), std::string::npos) << FaultText();
        EXPECT_NE(s->backend, c.port.empty() ? 99u : PORT_BACKEND_SIMULATED) << "no silent simulation";

        int64_t reads = s->reads;
        EXPECT_TRUE(WaitFor([&] { return s->reads > reads + 2; }, WaitMs())) << "still polling";
        EXPECT_EQ(TextOf(Control(r.program, IDC_STATUS_BOX)), std::to_wstring(PORT_STATUS_IDLE)) << "reads give the idle status";
        int64_t mark = JournalMark();
        Click(Control(r.program, IDC_LED3));
        EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4 })) << "writes journaled";
        EXPECT_EQ(ChainLogAttach()->calls, chainCalls) << "nothing reached the test library";
        std::string err = Finish(r);
        EXPECT_EQ(Count(err, FaultText()), 1u) << "said once on stderr: " << err;
    }
    DeleteFileA((TestFolder() + "copie-du-port.dll").c_str());
}

// The file beside the DLL, for people who cannot set a variable; the variable wins.
class ConfigFile : public ::testing::Test {
protected:
    std::string path = TestFolder() + "travek-port.conf";
    void Write(const std::string& text)
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        CloseHandle(f);
    }
    void TearDown() override { DeleteFileA(path.c_str()); }
};

TEST_F(ConfigFile, ChoosesTheLibraryAndBaseUnlessTheVariableSays)
{
    Write("# the bench's card\r\nTRAVEK_PORT = " + TestFolder() + CHAINTEST_DLL + "\r\nTRAVEK_PORT_BASE=0x278\r\n");
    LONG from = ChainLogAttach()->calls;
    PortRun r;
    ASSERT_TRUE(Launch(r, nullptr, nullptr));
    PortState* s = SharedPortAttach();
    EXPECT_EQ(s->backend, PORT_BACKEND_CHAINED);
    EXPECT_EQ(s->base, 0x278u);
    Click(Control(r.program, IDC_LED3));
    std::vector<ChainCall> w = ChainWrites(from);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back().port, 0x278);
    EXPECT_EQ(w.back().value, 4);
    EXPECT_EQ(Finish(r), "");

    ASSERT_TRUE(Launch(r, "sim", nullptr));
    EXPECT_EQ(s->backend, PORT_BACKEND_SIMULATED) << "the variable wins";
    EXPECT_EQ(Finish(r), "");

    Write("TRAVEK_PORT=sim\nTRAVEK_PORT_BAS=0x278\n");
    ASSERT_TRUE(Launch(r, nullptr, nullptr));
    EXPECT_EQ(s->fault, PORT_FAULT_CONFIG);
    EXPECT_EQ(FaultText(), "travek-port.conf, ligne 2 : nom inconnu « TRAVEK_PORT_BAS » (TRAVEK_PORT ou TRAVEK_PORT_BASE)");
    EXPECT_EQ(Count(Finish(r), FaultText()), 1u);
}
