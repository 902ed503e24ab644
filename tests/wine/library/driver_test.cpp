// The port driver library's contract: ordinals only, the simulated registers,
// the shared state seen from another process, the journal.
#include <gtest/gtest.h>
#include <string>
#include "childproc.h"
#include "sharedport.h"
#include "testwin.h"

static HMODULE Library()
{
    return LoadLibraryA("INPOUT32.dll");
}

TEST(Driver, ExportsTwoOrdinalsAndNoNames)
{
    HMODULE lib = Library();
    ASSERT_NE(lib, nullptr);
    auto base = reinterpret_cast<const BYTE*>(lib);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 2u);
    EXPECT_EQ(exports->NumberOfNames, 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "INPOUT32.dll");
    EXPECT_NE(LibraryRead(), nullptr);
    EXPECT_NE(LibraryWrite(), nullptr);
    EXPECT_EQ(GetProcAddress(lib, "PortRead"), nullptr);
    EXPECT_EQ(GetProcAddress(lib, "PortWrite"), nullptr);
    EXPECT_EQ(GetProcAddress(lib, MAKEINTRESOURCEA(3)), nullptr);
}

TEST(Driver, DataRegisterKeepsLowEightBitsJournalKeepsAll)
{
    int64_t mark = JournalMark();
    LibraryWrite()(0x378, 0x1234);
    EXPECT_EQ(SharedPortAttach()->data, 0x34);
    EXPECT_EQ(LibraryRead()(0x378), 0x34);
    LibraryWrite()(0x378, -1);
    EXPECT_EQ(SharedPortAttach()->data, 0xFF);
    std::vector<JournalWrite> w = JournalSince(mark);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].port, 0x378);
    EXPECT_EQ(w[0].value, 0x1234);
    EXPECT_EQ(w[1].value, 0xFFFF);
    EXPECT_EQ(w[1].seq, w[0].seq + 1);
    EXPECT_GE(w[1].ticks, w[0].ticks);
}

TEST(Driver, StatusRegisterReadsWhatIsSetIncludingWideValues)
{
    PortState* s = SharedPortAttach();
    int64_t reads = s->reads;
    SimPortSetStatus(s, 0x7F);
    EXPECT_EQ(LibraryRead()(0x379), PORT_STATUS_IDLE);
    SimPortSetStatus(s, 0x1FF);
    EXPECT_EQ(LibraryRead()(0x379), 0x1FF);
    SimPortSetStatus(s, -1);
    EXPECT_EQ(LibraryRead()(0x379), -1);
    SimPortSetStatus(s, 0x7F);
    EXPECT_EQ(s->reads, reads + 3);
    EXPECT_GT(s->lastReadTicks, 0);
}

TEST(Driver, SecondProcessSeesWritesAndSetsStatus)
{
    LibraryWrite()(0x378, 0xA5);
    EXPECT_EQ(Peer("data"), "165");

    int64_t mark = JournalMark();
    EXPECT_EQ(Peer("write 888 66"), "");
    EXPECT_EQ(SharedPortAttach()->data, 66);
    std::vector<JournalWrite> w = JournalSince(mark);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].value, 66);

    EXPECT_EQ(Peer("status 95"), "");
    EXPECT_EQ(LibraryRead()(0x379), 95);
    EXPECT_EQ(Peer("read 889"), "95");
    EXPECT_EQ(Peer("status 127"), "");
    EXPECT_EQ(Peer("bogus"), "exit 2");
}

TEST(Driver, FullJournalDropsTheOldestInOrder)
{
    PortState* s = SharedPortAttach();
    int64_t mark = JournalMark();
    const int extra = 1000;
    for (int i = 0; i < static_cast<int>(PORTSTATE_JOURNAL_CAPACITY) + extra; ++i)
        SimPortWriteValue(s, 0x378, static_cast<uint16_t>(i));
    std::vector<JournalWrite> out(PORTSTATE_JOURNAL_CAPACITY + 10);
    int64_t next = 0, dropped = 0;
    size_t n = SharedPortCopyJournal(s, mark, out.data(), out.size(), &next, &dropped);
    EXPECT_EQ(n, PORTSTATE_JOURNAL_CAPACITY);
    EXPECT_EQ(dropped, extra);
    EXPECT_EQ(next, mark + PORTSTATE_JOURNAL_CAPACITY + extra);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(out[0].value, static_cast<uint16_t>(extra));
    bool ordered = true;
    for (size_t i = 1; i < n; ++i)
        ordered = ordered && out[i].seq == out[i - 1].seq + 1 &&
                  out[i].value == static_cast<uint16_t>(out[i - 1].value + 1) &&
                  out[i].ticks >= out[i - 1].ticks;
    EXPECT_TRUE(ordered);

    // Reading on from where the copy stopped gives nothing new.
    EXPECT_EQ(SharedPortCopyJournal(s, next, out.data(), out.size(), &next, &dropped), 0u);
    EXPECT_EQ(dropped, 0);
}
