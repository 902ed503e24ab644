// See portinfo.h.
#include "portinfo.h"
#include "portlabel.h"

static const char TITLE_PREFIX[] = "Banc virtuel — ";
static const COLORREF FAULT_COLOUR = RGB(180, 30, 20);

static std::string Ansi(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return utf8;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    int m = WideCharToMultiByte(1252, 0, wide.c_str(), -1, nullptr, 0, "?", nullptr);
    if (m <= 0)
        return utf8;
    std::string text(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(1252, 0, wide.c_str(), -1, &text[0], m, "?", nullptr);
    text.resize(static_cast<size_t>(m - 1));
    return text;
}

PortInfo PortInfoRead(PortState* s)
{
    PortInfo info;
    info.real = PortIsReal(s);
    std::string label = PortLabel(s);
    if (!info.real)
        label += " 0x378";
    info.stale = Ansi(PortStaleText(s, SharedPortNow(), true));
    if (!info.stale.empty())
        label += " — entrées périmées";
    info.label = Ansi(label);
    info.fault = Ansi(PortFaultText(s));
    return info;
}

bool PortInfoSame(const PortInfo& a, const PortInfo& b)
{
    return a.real == b.real && a.label == b.label && a.fault == b.fault && a.stale == b.stale;
}

void PortInfoApply(HWND window, const PortInfo& info, const HWND* switches, int count)
{
    SetWindowTextA(window, (TITLE_PREFIX + info.label).c_str());
    for (int i = 0; i < count; ++i)
        EnableWindow(switches[i], info.real ? FALSE : TRUE);
}

void PortInfoDraw(HDC dc, const PortInfo& info, int x, int y)
{
    if (info.fault.empty() && info.stale.empty())
        return;
    COLORREF old = SetTextColor(dc, FAULT_COLOUR);
    std::string line = info.fault.empty() ? "" : "Défaut : " + info.fault;
    if (!info.stale.empty())
        line += (line.empty() ? "" : " — ") + info.stale;
    TextOutA(dc, x, y, line.c_str(), static_cast<int>(line.size()));
    SetTextColor(dc, old);
}
