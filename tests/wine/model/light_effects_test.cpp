// The light effects on real controls, observed through the simulated port's
// journal; repeating effects run from real timers on the test main window.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "testwin.h"

// Wine's Sleep is exact to the millisecond; allow for one more of clock rounding.
constexpr double GRANULARITY_MS = 2.0;
constexpr double GENEROUS_MS = 250.0;

// The port writes of one pass: every value preceded by the 0 of WriteOutputs.
static std::vector<int> PassWrites(const std::vector<int>& values)
{
    std::vector<int> out;
    for (int v : values) {
        out.push_back(0);
        out.push_back(v);
    }
    return out;
}

class Effects : public ::testing::Test {
protected:
    void SetUp() override { panel = CreateTestPanel(TimerDispatchProc); }
    void TearDown() override { DestroyTestPanel(panel); }
    void SetDelay(int ms) { SendMessageA(panel.slider, TBM_SETPOS, TRUE, ms); }
    TestPanel panel;
};

TEST_F(Effects, EachPassWritesItsSequenceAtDelayZero)
{
    SetDelay(0);
    struct Case {
        const char* name;
        void (*run)();
        const std::vector<int>& values;
    } cases[] = { { "K2000", RunK2000, K2000_PASS }, { "Chenillard", RunChenillard, CHENILLARD_PASS },
                  { "Fontaine", RunFontaine, FONTAINE_PASS } };
    for (const Case& c : cases) {
        int64_t mark = JournalMark();
        c.run();
        std::vector<JournalWrite> w = JournalSince(mark);
        std::vector<int> values = ValuesSince(mark);
        EXPECT_EQ(values, PassWrites(c.values)) << c.name;
        for (const JournalWrite& one : w)
            EXPECT_EQ(one.port, DATA_PORT) << c.name;
        EXPECT_EQ(SharedPortAttach()->data, c.values.back()) << c.name << " leaves its last value";
        EXPECT_EQ(StepDelay, 0u);
    }
    EXPECT_EQ(ShownImages(0, 7), "ledOn ledOff ledOff ledOff ledOff ledOff ledOff ledOn");
}

TEST_F(Effects, EveryValueIsHeldForTheDelay)
{
    SetDelay(20);
    int64_t mark = JournalMark();
    RunK2000();
    int64_t end = SharedPortNow();
    std::vector<JournalWrite> w = JournalSince(mark);
    ASSERT_EQ(w.size(), 32u);
    // From each value to the clear of the next step, and from the last to the end of the pass.
    for (size_t i = 1; i < w.size(); i += 2) {
        int64_t next = i + 1 < w.size() ? w[i + 1].ticks : end;
        double held = TicksToMs(next - w[i].ticks);
        EXPECT_GE(held, 20.0 - GRANULARITY_MS) << "step " << i / 2;
        EXPECT_LT(held, 20.0 + GENEROUS_MS) << "step " << i / 2;
    }
}

// A slider that lives on a thread of its own keeps answering while the pass
// sleeps; it moves from 20 to 60 once the pass has written its second value.
struct MovingSlider {
    HWND slider = nullptr;
    int64_t moveAt = 0;       // journal position that triggers the move
    int64_t movedAfter = -1;  // journal position when it moved
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

static DWORD WINAPI MovingSliderThread(LPVOID arg)
{
    MovingSlider* m = static_cast<MovingSlider*>(arg);
    m->slider = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_POPUP, 0, 0, 200, 30, nullptr, nullptr,
                                nullptr, nullptr);
    SendMessageA(m->slider, TBM_SETRANGEMAX, TRUE, 200);
    SendMessageA(m->slider, TBM_SETRANGEMIN, TRUE, 0);
    SendMessageA(m->slider, TBM_SETPOS, TRUE, 20);
    SetEvent(m->ready);
    while (MsgWaitForMultipleObjects(1, &m->stop, FALSE, 1, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (m->movedAfter < 0 && JournalMark() >= m->moveAt) {
            SendMessageA(m->slider, TBM_SETPOS, TRUE, 60);
            m->movedAfter = JournalMark();
        }
    }
    DestroyWindow(m->slider);
    return 0;
}

TEST_F(Effects, TheDelayIsReadOnceAtTheStartOfEachPass)
{
    MovingSlider m;
    m.moveAt = JournalMark() + 4;
    HANDLE thread = CreateThread(nullptr, 0, MovingSliderThread, &m, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(m.ready, WaitMs()), WAIT_OBJECT_0);
    DelaySlider = m.slider;

    int64_t mark = JournalMark();
    RunChenillard();
    std::vector<JournalWrite> first = JournalSince(mark);
    EXPECT_EQ(StepDelay, 20u);
    mark = JournalMark();
    RunChenillard();
    std::vector<JournalWrite> second = JournalSince(mark);
    EXPECT_EQ(StepDelay, 60u);

    SetEvent(m.stop);
    WaitForSingleObject(thread, WaitMs());
    CloseHandle(thread);
    DelaySlider = panel.slider;

    ASSERT_GE(m.movedAfter, 0);
    EXPECT_LT(m.movedAfter, mark - 4) << "the slider moved well inside the first pass";
    ASSERT_EQ(first.size(), 16u);
    ASSERT_EQ(second.size(), 16u);
    // A pass at 60 ms makes every step at least that long, so one shorter step shows that
    // the first pass kept 20 ms; a busy machine may stretch steps but never shorten them.
    double shortestFirst = 1e9;
    for (size_t i = 3; i < 16; i += 2) {
        shortestFirst = std::min(shortestFirst, TicksToMs(first[i].ticks - first[i - 2].ticks));
        EXPECT_GE(TicksToMs(second[i].ticks - second[i - 2].ticks), 60.0 - GRANULARITY_MS) << "step " << i / 2;
    }
    EXPECT_LT(shortestFirst, 60.0 - GRANULARITY_MS) << "the first pass took the delay set during it";
}

TEST_F(Effects, FontaineLeavesLedsOneAndEightForTheExtinguishTick)
{
    SetDelay(0);
    WriteOutputs(DATA_PORT, 255);
    ExtinguishFlags[3] = 1;
    RunFontaine();
    const unsigned char flags[8] = { 1, 0, 0, 0, 0, 0, 0, 1 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ExtinguishFlags[i], flags[i]) << "entry " << i;
    EXPECT_EQ(ShownImages(0, 7), "ledOn ledOff ledOff ledOff ledOff ledOff ledOff ledOn");

    int64_t mark = JournalMark();
    SetTimer(panel.main, TIMER_EXTINGUISH, 1, nullptr);
    EXPECT_TRUE(PumpUntil([] { return ShownImage(0) == std::string("ledOff"); }, 2000));
    EXPECT_EQ(ShownImages(0, 7), "ledOff ledOff ledOff ledOff ledOff ledOff ledOff ledOff");
    EXPECT_EQ(SharedPortAttach()->data, 129) << "the port keeps 129";
    EXPECT_TRUE(JournalSince(mark).empty());
    EXPECT_EQ(ExtinguishFlags[0], 1);
    EXPECT_EQ(ExtinguishFlags[7], 1);
}

TEST_F(Effects, StartTwiceIsOneTimerThatOneStopEnds)
{
    SetDelay(0);
    StartK2000();
    StartK2000();
    EXPECT_EQ(K2000Timer, TIMER_K2000);
    int64_t mark = JournalMark();
    ASSERT_TRUE(PumpUntil([&] { return JournalMark() - mark >= 3 * 32; }, WaitMs()));
    EXPECT_EQ((JournalMark() - mark) % 32, 0) << "whole passes only";

    mark = JournalMark();
    StopEffects();
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0 }));
    EXPECT_EQ(ShownImages(0, 7), "ledOff ledOff ledOff ledOff ledOff ledOff ledOff ledOff");
    EXPECT_FALSE(KillTimer(panel.main, TIMER_K2000)) << "no second timer 102 is left";
    mark = JournalMark();
    LetTimePass(100);
    EXPECT_TRUE(JournalSince(mark).empty());
    EXPECT_EQ(K2000Timer, TIMER_K2000) << "the slot keeps its value";

    StopEffects();  // again: the kill does nothing, the port is cleared again
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0 }));
}

TEST_F(Effects, StopWithNothingStartedOnlyClearsThePort)
{
    SetDelay(0);
    WriteOutputs(DATA_PORT, 129);
    ExtinguishFlags[0] = 1;
    // A timer 104 that no start command recorded: a slot of 0 means no kill.
    SetTimer(panel.main, TIMER_CHENILLARD, 10, nullptr);
    int64_t mark = JournalMark();
    StopEffects();
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0 }));
    EXPECT_EQ(SharedPortAttach()->data, 0);
    EXPECT_EQ(ExtinguishFlags[0], 0);
    EXPECT_EQ(K2000Timer, 0u);
    EXPECT_EQ(ChenillardTimer, 0u);
    EXPECT_TRUE(KillTimer(panel.main, TIMER_CHENILLARD)) << "the timer was left running";
}

TEST_F(Effects, BothRunningTakeTurnsInWholePasses)
{
    SetDelay(2);  // a K2000 pass lasts 32 ms, a Chenillard pass 16 ms: longer than the period
    StartK2000();
    StartChenillard();
    int64_t mark = JournalMark();
    ASSERT_TRUE(PumpUntil([&] { return JournalMark() - mark >= 10 * 32; }, WaitLongMs()));
    StopEffects();
    std::vector<int> values = ValuesSince(mark);
    values.resize(values.size() - 2);  // the stop's clear and 0

    const std::vector<int> k2000 = PassWrites(K2000_PASS), chenillard = PassWrites(CHENILLARD_PASS);
    std::string order;  // K or C per pass, in the order they ran
    size_t i = 0;
    while (i < values.size()) {
        auto at = [&](const std::vector<int>& pass) {
            return i + pass.size() <= values.size() &&
                   std::equal(pass.begin(), pass.end(), values.begin() + i);
        };
        if (at(k2000)) {
            order += 'K';
            i += k2000.size();
        } else if (at(chenillard)) {
            order += 'C';
            i += chenillard.size();
        } else {
            break;
        }
    }
    EXPECT_EQ(i, values.size()) << "a pass was cut or interleaved after " << order;
    EXPECT_GE(std::count(order.begin(), order.end(), 'K'), 3) << order;
    EXPECT_GE(std::count(order.begin(), order.end(), 'C'), 3) << order;
    EXPECT_EQ(order.find("KK"), std::string::npos) << "both are always due, so they alternate: " << order;
    EXPECT_EQ(order.find("CC"), std::string::npos) << order;
}
