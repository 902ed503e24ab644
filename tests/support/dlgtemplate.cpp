#include "dlgtemplate.h"
#include <algorithm>
#include <cstring>

const BYTE* Take(Reader& r, DWORD n)
{
    if (r.at + n > r.size) {
        r.overrun = true;
        r.at = r.size;
        static const BYTE zeros[8] = {};
        return zeros;
    }
    const BYTE* p = r.base + r.at;
    r.at += n;
    return p;
}

WORD ReadWord(Reader& r)
{
    WORD v;
    std::memcpy(&v, Take(r, 2), 2);
    return v;
}

DWORD ReadDword(Reader& r)
{
    DWORD v;
    std::memcpy(&v, Take(r, 4), 4);
    return v;
}

short ReadShort(Reader& r)
{
    return static_cast<short>(ReadWord(r));
}

BYTE ReadByte(Reader& r)
{
    return *Take(r, 1);
}

std::wstring ReadString(Reader& r)
{
    std::wstring s;
    for (WORD c = ReadWord(r); c != 0 && !r.overrun; c = ReadWord(r))
        s += static_cast<wchar_t>(c);
    return s;
}

std::wstring ReadNameOrOrdinal(Reader& r)
{
    if (r.at + 2 <= r.size && r.base[r.at] == 0xFF && r.base[r.at + 1] == 0xFF) {
        ReadWord(r);
        return L"#" + std::to_wstring(ReadWord(r));
    }
    return ReadString(r);
}

void AlignDword(Reader& r)
{
    r.at = (r.at + 3) & ~3u;
}

static ParsedItem ParseItem(Reader& r)
{
    ParsedItem it;
    it.start = r.at;
    it.help = ReadDword(r);
    it.exStyle = ReadDword(r);
    it.style = ReadDword(r);
    it.x = ReadShort(r);
    it.y = ReadShort(r);
    it.cx = ReadShort(r);
    it.cy = ReadShort(r);
    it.id = ReadDword(r);
    it.cls = ReadNameOrOrdinal(r);
    it.caption = ReadNameOrOrdinal(r);
    it.extra = ReadWord(r);
    Take(r, it.extra);
    it.end = r.at;
    return it;
}

ParsedDialog ParseDialog(const BYTE* data, DWORD size)
{
    Reader r{data, size, 0, false};
    ParsedDialog d = {};
    d.version = ReadWord(r);
    d.signature = ReadWord(r);
    d.help = ReadDword(r);
    d.exStyle = ReadDword(r);
    d.style = ReadDword(r);
    d.count = ReadWord(r);
    d.x = ReadShort(r);
    d.y = ReadShort(r);
    d.cx = ReadShort(r);
    d.cy = ReadShort(r);
    d.menu = ReadNameOrOrdinal(r);
    d.cls = ReadNameOrOrdinal(r);
    d.title = ReadString(r);
    if (d.style & DS_SETFONT) {
        d.pointSize = ReadWord(r);
        d.weight = ReadWord(r);
        d.italic = ReadByte(r);
        d.charset = ReadByte(r);
        d.face = ReadString(r);
    }
    for (int i = 0; i < d.count && !r.overrun; ++i) {
        AlignDword(r);
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
