// Two instances of the program on one simulated port, as two programs would
// share one real port: both keep running and the journal stays well formed.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <vector>
#include "program.h"
#include "sharedport.h"
#include "testwin.h"
#include "resource.h"

// Checks the journal since mark: consecutive sequence numbers, ticks that
// never go backwards, only data-port writes. Returns how many it saw.
static size_t ExpectWellFormed(int64_t mark)
{
    std::vector<JournalWrite> w = JournalSince(mark);
    size_t bad = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i].port != PORT_DATA)
            ++bad;
        if (i > 0 && (w[i].seq != w[i - 1].seq + 1 || w[i].ticks < w[i - 1].ticks)) {
            ADD_FAILURE() << "journal broken at seq " << w[i].seq << " after " << w[i - 1].seq << ", ticks "
                          << w[i].ticks << " after " << w[i - 1].ticks;
            break;
        }
    }
    EXPECT_EQ(bad, 0u) << "writes to another port";
    if (!w.empty()) {
        EXPECT_EQ(w.front().seq, mark);
    }
    return w.size();
}

TEST(InstancesTest, TwoProgramsShareOnePort)
{
    Program a, b;
    ASSERT_TRUE(StartProgram(a));
    ASSERT_TRUE(StartProgram(b));
    ASSERT_NE(a.main, b.main);
    LONG resets = SharedPortAttach()->resets;
    int64_t mark = JournalMark();

    SendMessageA(Control(a, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    Click(Control(a, IDC_K2000));  // K2000 at full speed in the first
    ASSERT_TRUE(WaitFor([&] { return JournalMark() > mark + 200; }, WaitLongMs()));
    // The second is clicked all the while: LEDs, Envoi, Reset, Fontaine.
    SendMessageA(Control(b, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    DWORD start = GetTickCount();
    int clicks = 0;
    while (GetTickCount() - start < 3000) {
        for (int id = IDC_LED2; id <= IDC_LED1; ++id, ++clicks)
            Click(Control(b, id));
        TypeText(Control(b, IDC_NUMBER_BOX), "1234");
        Click(Control(b, IDC_SEND));
        Click(Control(b, IDC_RESET));
        Click(Control(b, IDC_FONTAINE));
        clicks += 3;
        Click(Control(a, IDC_LED2 + clicks % 8));  // and the first too, while K2000 runs
        ++clicks;
    }
    Click(Control(a, IDC_STOP));
    ASSERT_TRUE(Responds(a, WaitMs()));
    ASSERT_TRUE(Responds(b, WaitMs()));

    int64_t end = JournalMark();
    size_t seen = ExpectWellFormed(mark);
    EXPECT_GT(clicks, 100);
    EXPECT_GT(seen, 1000u);
    if (end - mark <= static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY)) {
        EXPECT_EQ(static_cast<int64_t>(seen), end - mark) << "every write journaled whole";
    }
    EXPECT_EQ(SharedPortAttach()->resets, resets) << "sharing is no corruption";
    EXPECT_EQ(WaitForSingleObject(a.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(b.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    StopProgram(a);
    StopProgram(b);
    printf("%d clicks, %lld writes journaled\n", clicks, static_cast<long long>(end - mark));
}
