// The status box takes its text at every poll; most polls bring the same text.
#ifndef STATUSBOX_H
#define STATUSBOX_H

#include <windows.h>

// Makes an edit control take a text equal to the one it shows, with nothing
// else to reset, without repainting. A null handle is left alone.
void SkipUnchangedText(HWND box);

#endif
