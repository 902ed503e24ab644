// The resources compiled into Travek.exe, read raw from the file beside this
// test: the inventory, the panel's dialog template and the menu.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>
#include "dlgtemplate.h"
#include "panel_template.h"
#include "resfile.h"
#include "resourceview.h"
#include "resource.h"


namespace {

// ---------------------------------------------------------------- inventory

TEST_F(Resources, ExactlyTheSevenResourcesAllFrench)
{
    std::vector<Resource> all = ModuleResources(Program);
    std::set<std::wstring> types;
    for (const Resource& r : all)
        types.insert(KeyText(r.type));
    // Bitmap, icon, menu, dialog, icon group: no string table, version, manifest or other.
    EXPECT_EQ(types, (std::set<std::wstring>{L"#2", L"#3", L"#4", L"#5", L"#14"}));

    struct Expected {
        LPCWSTR type;
        std::set<std::wstring> names;
    } expected[] = {
        { L"#2", { L"#105", L"#106", L"#107", L"#108", L"#114" } },
        { L"#3", { L"#1" } },
        { L"#4", { L"#102" } },
        { L"#5", { L"#104" } },
        { L"#14", { L"LOGO" } },
    };
    for (const Expected& e : expected) {
        std::set<std::wstring> names;
        for (const Resource& r : all)
            if (KeyText(r.type) == e.type)
                names.insert(KeyText(r.name));
        EXPECT_EQ(names, e.names) << "type " << e.type;
        for (const std::wstring& name : names) {
            std::vector<WORD> languages;
            for (const Resource& r : all)
                if (KeyText(r.type) == e.type && KeyText(r.name) == name)
                    languages.push_back(r.language);
            EXPECT_EQ(languages, std::vector<WORD>{0x040C}) << name.c_str();
        }
    }
}

// ---------------------------------------------------------------- dialog 104

// How the template stores an item's class: the predefined ones by ordinal.
static std::wstring StoredClass(const PanelItem& item)
{
    if (wcscmp(item.cls, L"Button") == 0)
        return L"#128";
    if (wcscmp(item.cls, L"Edit") == 0)
        return L"#129";
    if (wcscmp(item.cls, L"Static") == 0)
        return L"#130";
    return item.cls;
}

// The picture static names its bitmap by ordinal: 114, the banner.
static std::wstring StoredCaption(const PanelItem& item)
{
    return (item.style & SS_TYPEMASK) == SS_BITMAP && wcscmp(item.cls, L"Static") == 0 ? L"#114"
                                                                                      : item.caption;
}

class Dialog : public Resources {
protected:
    void SetUp() override
    {
        Resources::SetUp();
        Blob b = FindBlob(TYPE_DIALOG, MAKEINTRESOURCEW(104));
        ASSERT_NE(b.data, nullptr);
        dialog = ParseDialog(b.data, b.size);
        ASSERT_FALSE(dialog.overrun);
    }
    ParsedDialog dialog;
};

TEST_F(Dialog, HeaderIsAnInvisibleChildWithTheComicSansFont)
{
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF);
    EXPECT_EQ(dialog.help, 0u);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.style, 0x40000040u);  // WS_CHILD | DS_SETFONT: no WS_VISIBLE, no caption
    EXPECT_EQ(dialog.count, 32);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 402);
    EXPECT_EQ(dialog.cy, 247);
    EXPECT_EQ(dialog.menu, L"");
    EXPECT_EQ(dialog.cls, L"");
    EXPECT_EQ(dialog.title, L"");
    EXPECT_EQ(dialog.pointSize, 10);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 1);
    EXPECT_EQ(dialog.face, L"Comic Sans MS");
    EXPECT_GE(dialog.size, dialog.end);
    EXPECT_LE(dialog.size - dialog.end, 3u);  // nothing after the last item but alignment
}

TEST_F(Dialog, ThirtyTwoItemsInTemplateOrder)
{
    ASSERT_EQ(dialog.items.size(), 32u);
    for (int i = 0; i < 32; ++i) {
        const PanelItem& want = PANEL_TEMPLATE[i];
        const ParsedItem& got = dialog.items[i];
        SCOPED_TRACE("item " + std::to_string(i + 1));
        EXPECT_EQ(got.id, static_cast<DWORD>(want.id));
        if (want.id == IDC_DELAY_SLIDER)
            // Stored by name; windres writes the name in capitals, which names
            // the same class: window classes are matched without regard to case.
            EXPECT_EQ(_wcsicmp(got.cls.c_str(), want.cls), 0) << got.cls.c_str();
        else
            EXPECT_EQ(got.cls, StoredClass(want));
        EXPECT_EQ(got.caption, StoredCaption(want));
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.help, 0u);
        EXPECT_EQ(got.extra, 0);
    }
}

// The accented letters, as UTF-16 code units independent of this file's encoding.
TEST_F(Dialog, AccentedCaptionsAreUtf16)
{
    ASSERT_EQ(dialog.items.size(), 32u);
    const std::wstring& send = dialog.items[21].caption;
    ASSERT_EQ(send.size(), 35u);
    EXPECT_EQ(send[32], 0x00E8);  // parallèle
    EXPECT_EQ(send.substr(0, 32), L"Envoi de code sur le port parall");

    const std::wstring& receive = dialog.items[24].caption;
    ASSERT_EQ(receive.size(), 45u);
    EXPECT_EQ(receive[1], 0x00E9);   // Récéption
    EXPECT_EQ(receive[3], 0x00E9);
    EXPECT_EQ(receive[17], 0x00E9);  // donnée
    EXPECT_EQ(receive[42], 0x00E8);  // parallèle

    const std::wstring& delay = dialog.items[26].caption;
    ASSERT_EQ(delay.size(), 35u);
    EXPECT_EQ(delay[1], 0x00E9);  // Réglage
    EXPECT_EQ(delay[12], 0x0027);
    EXPECT_EQ(delay[25], 0x0027);
}

// ---------------------------------------------------------------- menu 102

struct MenuEntry {
    int depth;
    WORD flags;
    int id;  // -1 for a popup
    std::wstring text;
};

bool operator==(const MenuEntry& a, const MenuEntry& b)
{
    return a.depth == b.depth && a.flags == b.flags && a.id == b.id && a.text == b.text;
}

void PrintTo(const MenuEntry& e, std::ostream* os)
{
    *os << "{" << e.depth << ", 0x" << std::hex << e.flags << std::dec << ", " << e.id << ", "
        << ::testing::PrintToString(e.text) << "}";
}

void ParseMenuLevel(Reader& r, int depth, std::vector<MenuEntry>& out)
{
    while (!r.overrun) {
        MenuEntry e{depth, ReadWord(r), -1, L""};
        if (!(e.flags & MF_POPUP))
            e.id = ReadWord(r);
        e.text = ReadString(r);
        out.push_back(e);
        if (e.flags & MF_POPUP)
            ParseMenuLevel(r, depth + 1, out);
        if (e.flags & MF_END)
            return;
    }
}

TEST_F(Resources, MenuIsFichierQuitterThenAideAboutSchema)
{
    Blob b = FindBlob(TYPE_MENU, MAKEINTRESOURCEW(102));
    ASSERT_NE(b.data, nullptr);
    Reader r{b.data, b.size, 0, false};
    EXPECT_EQ(ReadWord(r), 0);  // version: a standard menu, not the extended format
    EXPECT_EQ(ReadWord(r), 0);  // header size
    std::vector<MenuEntry> entries;
    ParseMenuLevel(r, 0, entries);
    EXPECT_FALSE(r.overrun);
    EXPECT_EQ(r.at, b.size);
    std::vector<MenuEntry> expected = {
        { 0, 0x10, -1, L"Fichier" },
        { 1, 0x80, 40001, L"&Quitter" },
        { 0, 0x90, -1, L"Aide" },
        { 1, 0x00, 40002, L"About" },
        { 1, 0x80, 40003, L"Sch\u00E8ma" },
    };
    EXPECT_EQ(entries, expected);
}

}  // namespace
