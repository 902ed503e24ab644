// Another program's window, for scripts (the screenshot):
//   wctl rect CLASS          prints "X Y WIDTH HEIGHT" of the first top-level
//                            window of class CLASS, once it is visible
//   wctl click CLASS ID...   posts a click to each control ID under it
// Waits up to 20 s for the window; exit code 1 if it never comes.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Search {
    int id;
    HWND found;
};

static BOOL CALLBACK FindControl(HWND child, LPARAM lp)
{
    Search* s = reinterpret_cast<Search*>(lp);
    if (GetDlgCtrlID(child) == s->id) {
        s->found = child;
        return FALSE;
    }
    return TRUE;
}

static HWND WaitForWindow(const char* cls)
{
    for (int i = 0; i < 200; ++i) {
        HWND w = FindWindowA(cls, nullptr);
        if (w && IsWindowVisible(w))
            return w;
        Sleep(100);
    }
    return nullptr;
}

int main(int argc, char** argv)
{
    if (argc < 3 || (strcmp(argv[1], "rect") != 0 && strcmp(argv[1], "click") != 0)) {
        fprintf(stderr, "usage: wctl rect CLASS | wctl click CLASS ID...\n");
        return 2;
    }
    HWND top = WaitForWindow(argv[2]);
    if (!top) {
        fprintf(stderr, "wctl: no window of class %s\n", argv[2]);
        return 1;
    }
    if (strcmp(argv[1], "rect") == 0) {
        RECT r;
        GetWindowRect(top, &r);
        printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    for (int i = 3; i < argc; ++i) {
        Search s = { atoi(argv[i]), nullptr };
        EnumChildWindows(top, FindControl, reinterpret_cast<LPARAM>(&s));
        if (!s.found) {
            fprintf(stderr, "wctl: no control %s\n", argv[i]);
            return 1;
        }
        PostMessageA(s.found, BM_CLICK, 0, 0);
        Sleep(50);
    }
    return 0;
}
