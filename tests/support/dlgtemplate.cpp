#include "dlgtemplate.h"
#include <algorithm>
#include <cstring>

const BYTE* Reader::Take(DWORD n)
{
    if (at + n > size) {
        overrun = true;
        at = size;
        static const BYTE zeros[8] = {};
        return zeros;
    }
    const BYTE* p = base + at;
    at += n;
    return p;
}

WORD Reader::Word()
{
    WORD v;
    std::memcpy(&v, Take(2), 2);
    return v;
}

DWORD Reader::Dword()
{
    DWORD v;
    std::memcpy(&v, Take(4), 4);
    return v;
}

std::wstring Reader::String()
{
    std::wstring s;
    for (WORD c = Word(); c != 0 && !overrun; c = Word())
        s += static_cast<wchar_t>(c);
    return s;
}

std::wstring Reader::NameOrOrdinal()
{
    if (at + 2 <= size && base[at] == 0xFF && base[at + 1] == 0xFF) {
        Word();
        return L"#" + std::to_wstring(Word());
    }
    return String();
}

static ParsedItem ParseItem(Reader& r)
{
    ParsedItem it;
    it.start = r.at;
    it.help = r.Dword();
    it.exStyle = r.Dword();
    it.style = r.Dword();
    it.x = r.Short();
    it.y = r.Short();
    it.cx = r.Short();
    it.cy = r.Short();
    it.id = r.Dword();
    it.cls = r.NameOrOrdinal();
    it.caption = r.NameOrOrdinal();
    it.extra = r.Word();
    r.Take(it.extra);
    it.end = r.at;
    return it;
}

ParsedDialog ParseDialog(const BYTE* data, DWORD size)
{
    Reader r{data, size, 0, false};
    ParsedDialog d = {};
    d.version = r.Word();
    d.signature = r.Word();
    d.help = r.Dword();
    d.exStyle = r.Dword();
    d.style = r.Dword();
    d.count = r.Word();
    d.x = r.Short();
    d.y = r.Short();
    d.cx = r.Short();
    d.cy = r.Short();
    d.menu = r.NameOrOrdinal();
    d.cls = r.NameOrOrdinal();
    d.title = r.String();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        d.weight = r.Word();
        d.italic = r.Byte();
        d.charset = r.Byte();
        d.face = r.String();
    }
    for (int i = 0; i < d.count && !r.overrun; ++i) {
        r.AlignDword();
        d.items.push_back(ParseItem(r));
    }
    d.end = r.at;
    d.size = size;
    d.overrun = r.overrun;
    return d;
}

WORD WordAt(const std::vector<BYTE>& data, size_t at)
{
    return at + 2 <= data.size() ? static_cast<WORD>(data[at] | data[at + 1] << 8) : 0;
}

static size_t Align4(size_t at)
{
    return (at + 3) & ~static_cast<size_t>(3);
}

std::vector<BYTE> WithoutItems(const std::vector<BYTE>& t, const std::vector<int>& removed)
{
    ParsedDialog d = ParseDialog(t.data(), static_cast<DWORD>(t.size()));
    size_t header = d.items.empty() ? Align4(d.end) : d.items.front().start;
    std::vector<BYTE> out(t.begin(), t.begin() + static_cast<ptrdiff_t>(std::min(header, t.size())));
    WORD kept = 0;
    for (const ParsedItem& item : d.items) {
        bool drop = false;
        for (int r : removed)
            drop = drop || r == static_cast<int>(item.id);
        if (drop)
            continue;
        out.resize(Align4(out.size()), 0);
        out.insert(out.end(), t.begin() + item.start, t.begin() + item.end);
        ++kept;
    }
    if (out.size() >= TEMPLATE_COUNT_AT + 2) {
        out[TEMPLATE_COUNT_AT] = static_cast<BYTE>(kept);
        out[TEMPLATE_COUNT_AT + 1] = static_cast<BYTE>(kept >> 8);
    }
    return out;
}
