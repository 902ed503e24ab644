// The indicator model against real bitmap buttons and the simulated port.
#include <gtest/gtest.h>
#include "indicators.h"
#include "port.h"
#include "testwin.h"

class Indicators : public ::testing::Test {
protected:
    void SetUp() override { panel = CreateTestPanel(); }
    void TearDown() override { DestroyTestPanel(panel); }
    TestPanel panel;
};

static std::string Lit(const char* bits)
{
    std::string s;
    for (int i = 0; i < 8; ++i) {
        if (i)
            s += ' ';
        s += bits[i] == '1' ? "ledOn" : "ledOff";
    }
    return s;
}

TEST(BinaryDigits, LeastSignificantFirstOverTheUnsignedPattern)
{
    struct Case {
        int value;
        const char* digits;
    } cases[] = {
        { 0, "0" }, { 1, "1" }, { 2, "01" }, { 24, "00011" }, { 129, "10000001" },
        { 255, "11111111" }, { 256, "000000001" }, { 300, "001101001" },
        { 32767, "111111111111111" }, { -1, "1111111111111111" },
        { -2, "0111111111111111" }, { -32768, "0000000000000001" },
        { -25536, "0000001000111001" },  // 40000 as typed
    };
    for (const Case& c : cases) {
        BinaryDigits d = ToBinaryDigits(static_cast<short>(c.value));
        EXPECT_STREQ(d.text, c.digits) << c.value;
        EXPECT_LE(strlen(d.text), 16u);
    }
}

TEST_F(Indicators, WriteOutputsClearsThenShowsBitsThenWrites)
{
    struct Case {
        int value;
        const char* lit;  // LED 1 to LED 8
    } cases[] = {
        { 0, "00000000" }, { 1, "10000000" }, { 4, "00100000" }, { 255, "11111111" },
        { 256, "00000000" }, { 300, "00110100" }, { 32767, "11111111" },
        { -1, "11111111" }, { -2, "01111111" }, { static_cast<short>(40000), "00000010" },
        { static_cast<short>(32768), "00000000" }, { static_cast<short>(65537), "10000000" },
    };
    for (const Case& c : cases) {
        int64_t mark = JournalMark();
        WriteOutputs(DATA_PORT, static_cast<short>(c.value));
        EXPECT_EQ(ShownImages(0, 7), Lit(c.lit)) << c.value;
        std::vector<JournalWrite> w = JournalSince(mark);
        ASSERT_EQ(w.size(), 2u) << c.value;
        EXPECT_EQ(w[0].port, DATA_PORT);
        EXPECT_EQ(w[0].value, 0);
        EXPECT_EQ(w[1].port, DATA_PORT);
        EXPECT_EQ(w[1].value, static_cast<uint16_t>(c.value)) << "full 16-bit value reaches the port";
        EXPECT_EQ(SharedPortAttach()->data, c.value & 0xFF);
    }
}

TEST_F(Indicators, SameValueTwiceStillDropsTheLinesBetween)
{
    int64_t mark = JournalMark();
    WriteOutputs(DATA_PORT, 24);
    WriteOutputs(DATA_PORT, 24);
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 24, 0, 24 }));
    mark = JournalMark();
    WriteOutputs(DATA_PORT, 0);
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0 }));
}

TEST_F(Indicators, ClearOutputsLeavesSensorLampsAlone)
{
    ShowIndicator(9, IndicatorImages.sensorActive);
    WriteOutputs(DATA_PORT, 255);
    ExtinguishFlags[2] = 1;
    int64_t mark = JournalMark();
    ClearOutputs();
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0 }));
    EXPECT_EQ(ShownImages(0, 7), Lit("00000000"));
    EXPECT_EQ(ShownImage(9), std::string("sensorActive"));
    for (unsigned char f : ExtinguishFlags)
        EXPECT_EQ(f, 0);
}

TEST_F(Indicators, ShowSensorsIdleTouchesOnlyTheLamps)
{
    WriteOutputs(DATA_PORT, 129);
    ExtinguishFlags[0] = 1;
    ShowIndicator(12, IndicatorImages.sensorActive);
    int64_t mark = JournalMark();
    ShowSensorsIdle();
    EXPECT_EQ(ShownImages(8, 12), "sensorIdle sensorIdle sensorIdle sensorIdle sensorIdle");
    EXPECT_EQ(ShownImages(0, 7), Lit("10000001"));
    EXPECT_EQ(ExtinguishFlags[0], 1);
    EXPECT_TRUE(JournalSince(mark).empty());
    EXPECT_EQ(SharedPortAttach()->data, 129);
}

TEST_F(Indicators, ExtinguishTickDarkensFlaggedLedsOnly)
{
    WriteOutputs(DATA_PORT, 255);
    int64_t mark = JournalMark();
    ExtinguishTick();
    EXPECT_EQ(ShownImages(0, 7), Lit("11111111")) << "no flags, no change";

    ExtinguishFlags[0] = 1;
    ExtinguishFlags[7] = 1;
    ExtinguishFlags[3] = 2;  // only exactly 1 counts
    ExtinguishTick();
    EXPECT_EQ(ShownImages(0, 7), Lit("01111110"));
    ShowIndicator(0, IndicatorImages.ledOn);
    ExtinguishTick();
    EXPECT_EQ(ShownImage(0), std::string("ledOff")) << "every tick, until cleared";
    EXPECT_EQ(ExtinguishFlags[0], 1);
    EXPECT_TRUE(JournalSince(mark).empty());
    EXPECT_EQ(SharedPortAttach()->data, 255);
}

TEST(IndicatorsWithoutPanel, NullHandlesStillWriteThePort)
{
    int64_t mark = JournalMark();
    WriteOutputs(DATA_PORT, 300);
    ExtinguishTick();
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 300 }));
}
