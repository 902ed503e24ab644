// Reading resource data front to back, and the extended dialog template
// (DLGTEMPLATEEX) walked item by item, for the tests.
#ifndef DLGTEMPLATE_H
#define DLGTEMPLATE_H

#include <windows.h>
#include <string>
#include <vector>

// A reader of little-endian fields; reading past the end gives zeros and sets overrun.
struct Reader {
    const BYTE* base;
    DWORD size;
    DWORD at;
    bool overrun;
};

const BYTE* Take(Reader& r, DWORD n);
WORD ReadWord(Reader& r);
DWORD ReadDword(Reader& r);
short ReadShort(Reader& r);
BYTE ReadByte(Reader& r);
// A zero-terminated UTF-16 string.
std::wstring ReadString(Reader& r);
// A name or ordinal field: 0xFFFF then the ordinal ("#N"), else a string.
std::wstring ReadNameOrOrdinal(Reader& r);
void AlignDword(Reader& r);

struct ParsedItem {
    DWORD help, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring cls, caption;
    WORD extra;
    DWORD start, end;  // the item's bytes in the template, creation data included
};

struct ParsedDialog {
    WORD version, signature;
    DWORD help, exStyle, style;
    WORD count;
    short x, y, cx, cy;
    std::wstring menu, cls, title;
    WORD pointSize, weight;  // the font fields, present with DS_SETFONT
    BYTE italic, charset;
    std::wstring face;
    std::vector<ParsedItem> items;
    DWORD end, size;  // where the last item ends, and the template's size
    bool overrun;
};

constexpr size_t TEMPLATE_COUNT_AT = 16;  // offset of the item count in DLGTEMPLATEEX

ParsedDialog ParseDialog(const BYTE* data, DWORD size);

// The word at a byte offset of the data, 0 past its end.
WORD WordAt(const std::vector<BYTE>& data, size_t at);

// The extended template without the items whose identifiers are listed.
std::vector<BYTE> WithoutItems(const std::vector<BYTE>& t, const std::vector<int>& removed);

#endif
