// A text set again on an edit control changes nothing but costs a repaint.
#include "statusbox.h"
#include <string.h>

constexpr int COMPARED_TEXT = 64;  // longer texts are always set

static WNDPROC EditProc;  // the edit class's own window procedure

// True when setting `text` would leave the box as it is: the same text, and
// the caret at the start with nothing selected, where a new text puts it.
static bool ShowsAlready(HWND box, const char* text)
{
    if (!text || strlen(text) >= COMPARED_TEXT - 1)
        return false;
    char shown[COMPARED_TEXT];
    LRESULT n = CallWindowProcA(EditProc, box, WM_GETTEXT, COMPARED_TEXT, reinterpret_cast<LPARAM>(shown));
    if (n < 0 || n >= COMPARED_TEXT - 1)
        return false;
    shown[n] = '\0';
    if (strcmp(shown, text) != 0)
        return false;
    DWORD start = 0, end = 0;
    CallWindowProcA(EditProc, box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return start == 0 && end == 0;
}

static LRESULT CALLBACK UnchangedTextProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && ShowsAlready(box, reinterpret_cast<const char*>(lParam)))
        return TRUE;
    return CallWindowProcA(EditProc, box, message, wParam, lParam);
}

void SkipUnchangedText(HWND box)
{
    if (!box)
        return;
    WNDPROC previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnchangedTextProc)));
    if (previous != UnchangedTextProc)
        EditProc = previous;
}
