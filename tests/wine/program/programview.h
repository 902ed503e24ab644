// The program under test as its tests see it: one program started for each
// test, so that the tests pass alone and in any order; its indicators read as
// text against the pictures learnt, its pixels read from the screen.
#ifndef PROGRAMVIEW_H
#define PROGRAMVIEW_H

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "program.h"
#include "sharedport.h"

extern Program App;                // the program of the running test, started for it
extern int64_t WritesAtFirstRead;  // journal count when its first poll was seen
extern HANDLE LedOff, LedOn, SensorIdle, SensorActive;  // its picture handles, once learnt

// Starts the program for each test, learning the unlit and idle pictures and
// when the first poll came; ends it after the test.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

PortState* Port();
HANDLE ImageOf(int id);
// "1" for a lit LED, "0" for an unlit one, "?" otherwise; LED 1 first.
std::string Leds();
// "a" for the active lamp, "-" for idle ones, "?" otherwise.
std::string Lamps();
// Fails the test unless the program answers within 10 s.
void Settle();
// The screen's colour at the middle of the control.
COLORREF ScreenPixel(HWND control);
bool IsBrightRed(COLORREF c);
bool IsDarkRed(COLORREF c);
// Learns the lit LED picture from a write of 255, which lights all eight.
void LearnLitPicture();

#endif
