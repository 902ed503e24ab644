// The real program with parts of its resources taken away: copies of
// Travek.exe whose bitmaps, indicator buttons and slider, or whole panel
// template are removed with UpdateResource. Each shows its messages, in
// order, and then goes on running: the port is written and polled.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "program.h"
#include "resource.h"
#include "simport.h"
#include "testwin.h"

static const WORD FRENCH = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
static const wchar_t BITMAP_MESSAGE[] = L"Impossible d'initialiser une ressource bitmap";
static const wchar_t BUTTON_MESSAGE[] = L"Impossible d'obtenir une information sur un bouton";
static const wchar_t SLIDER_MESSAGE[] =
    L"Impossible d'initialiser le composant de selection d'intervalle de temps";
static const wchar_t PANEL_MESSAGE[] = L"Impossible de cr\u00e9er le module principal";

// The panel template as compiled into Travek.exe.
static std::vector<BYTE> PanelTemplate()
{
    std::vector<BYTE> bytes;
    std::string exe = TestFolder() + "Travek.exe";
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return bytes;
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_CONTROL_PANEL), FRENCH);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data)
        bytes.assign(data, data + SizeofResource(module, found));
    FreeLibrary(module);
    return bytes;
}

static WORD WordAt(const std::vector<BYTE>& t, size_t at)
{
    return at + 2 <= t.size() ? static_cast<WORD>(t[at] | t[at + 1] << 8) : 0;
}

// Past a name-or-ordinal field: 0 (none), 0xFFFF and an ordinal, or a string.
static size_t SkipNameOrOrdinal(const std::vector<BYTE>& t, size_t at)
{
    WORD first = WordAt(t, at);
    if (first == 0xFFFF)
        return at + 4;
    while (at < t.size() && WordAt(t, at) != 0)
        at += 2;
    return at + 2;
}

static size_t Align4(size_t at)
{
    return (at + 3) & ~static_cast<size_t>(3);
}

// The extended template without the items whose identifiers are listed.
static std::vector<BYTE> WithoutItems(const std::vector<BYTE>& t, const std::vector<int>& removed)
{
    const size_t countAt = 16, headerEnd = 26;
    size_t at = SkipNameOrOrdinal(t, SkipNameOrOrdinal(t, headerEnd));  // menu, class
    at = SkipNameOrOrdinal(t, at);                                      // title
    DWORD style = t[12] | t[13] << 8 | t[14] << 16 | static_cast<DWORD>(t[15]) << 24;
    if (style & DS_SETFONT)
        at = SkipNameOrOrdinal(t, at + 6);  // size, weight, italic, charset, face
    at = Align4(at);
    std::vector<BYTE> out(t.begin(), t.begin() + at);
    WORD items = WordAt(t, countAt), kept = 0;
    for (WORD i = 0; i < items && at < t.size(); ++i) {
        size_t start = at;
        int id = static_cast<int>(t[start + 20] | t[start + 21] << 8);
        at = SkipNameOrOrdinal(t, SkipNameOrOrdinal(t, start + 24));  // class, caption
        at += 2 + WordAt(t, at);                                         // creation data
        bool drop = false;
        for (int r : removed)
            drop = drop || r == id;
        if (!drop) {
            out.resize(Align4(out.size()), 0);
            out.insert(out.end(), t.begin() + start, t.begin() + at);
            ++kept;
        }
        at = Align4(at);
    }
    out[countAt] = static_cast<BYTE>(kept);
    out[countAt + 1] = static_cast<BYTE>(kept >> 8);
    return out;
}

// A resource type or name: an ordinal, or a string when text is set.
struct ResourceKey {
    WORD ordinal;
    std::string text;
    LPCSTR Get() const { return text.empty() ? MAKEINTRESOURCEA(ordinal) : text.c_str(); }
    bool Is(LPCSTR other) const { return text.empty() && IS_INTRESOURCE(other) && LOWORD(other) == ordinal; }
};

static ResourceKey KeyOf(LPCSTR key)
{
    return IS_INTRESOURCE(key) ? ResourceKey{ LOWORD(key), "" } : ResourceKey{ 0, key };
}

struct Resource {
    ResourceKey type, name;
    WORD language;
    std::vector<BYTE> data;
};

static BOOL CALLBACK AddLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR all)
{
    HRSRC found = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data)
        reinterpret_cast<std::vector<Resource>*>(all)->push_back(
            { KeyOf(type), KeyOf(name), language, std::vector<BYTE>(data, data + SizeofResource(module, found)) });
    return TRUE;
}

static BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR all)
{
    return EnumResourceLanguagesA(module, type, name, AddLanguage, all);
}

static BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR all)
{
    return EnumResourceNamesA(module, type, AddName, all);
}

// Every resource of Travek.exe, with its data.
static std::vector<Resource> ProgramResources()
{
    std::vector<Resource> all;
    std::string exe = TestFolder() + "Travek.exe";
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        EnumResourceTypesA(module, AddType, reinterpret_cast<LONG_PTR>(&all));
        FreeLibrary(module);
    }
    return all;
}

struct Change {
    LPCSTR type;
    int id;
    std::vector<BYTE> data;  // empty: the resource is left out
};

// Writes a copy of Travek.exe beside it, its resources rewritten from the
// original's with the changes made.
static bool MakeVariant(const char* name, const std::vector<Change>& changes)
{
    std::vector<Resource> resources = ProgramResources();
    std::string from = TestFolder() + "Travek.exe", to = TestFolder() + name;
    if (resources.empty() || !CopyFileA(from.c_str(), to.c_str(), FALSE))
        return false;
    HANDLE update = BeginUpdateResourceA(to.c_str(), TRUE);
    if (!update)
        return false;
    bool ok = true;
    for (Resource& r : resources) {
        for (const Change& c : changes) {
            if (r.type.Is(c.type) && r.name.Is(MAKEINTRESOURCEA(c.id)))
                r.data = c.data;
        }
        if (!r.data.empty())
            ok = ok && UpdateResourceA(update, r.type.Get(), r.name.Get(), r.language, r.data.data(),
                                       static_cast<DWORD>(r.data.size()));
    }
    return EndUpdateResourceA(update, !ok) && ok;
}

// Answers the "Erreur" boxes one by one, checking their texts in order.
static void ExpectErrorBoxes(const std::vector<const wchar_t*>& texts)
{
    for (size_t i = 0; i < texts.size(); ++i) {
        HWND box = WaitForBox(L"Erreur", 15000);
        ASSERT_TRUE(box) << "message " << i + 1 << " of " << texts.size() << " never shown";
        EXPECT_EQ(BoxText(box), texts[i]) << "message " << i + 1;
        AnswerBox(box, IDOK);
    }
}

// The process runs on after its messages: window shown, 0 written, port polled.
static void ExpectRunning(Program& p, bool withPanel)
{
    ASSERT_TRUE(FindProgramWindows(p, withPanel, 15000)) << "no main window after the messages";
    ASSERT_TRUE(Responds(p, 5000));
    EXPECT_FALSE(FindWindowW(L"#32770", L"Erreur")) << "a message more than expected";
    std::vector<int> values = ValuesSince(p.startMark);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 0) << "the start-up write of 0";
    LONG64 reads = SimPortAttach()->reads;
    EXPECT_TRUE(WaitFor([&] { return SimPortAttach()->reads > reads + 5; }, 3000)) << "polling stopped";
}

class FailurePathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        StopProgram(program);
        DeleteFileA((TestFolder() + variant).c_str());
    }
    Program program;
    std::string variant;
};

TEST_F(FailurePathsTest, MissingBitmapsAreReportedAndTheLinesStillWork)
{
    variant = "Travek-sans-images.exe";
    ASSERT_TRUE(MakeVariant(variant.c_str(), {
        { RT_BITMAP, IDB_LED_ON, {} }, { RT_BITMAP, IDB_LED_OFF, {} },
        { RT_BITMAP, IDB_SENSOR_ACTIVE, {} }, { RT_BITMAP, IDB_SENSOR_IDLE, {} } }));
    ASSERT_TRUE(LaunchProgram(program, variant.c_str()));
    ExpectErrorBoxes({ BITMAP_MESSAGE, BITMAP_MESSAGE, BITMAP_MESSAGE, BITMAP_MESSAGE });
    ExpectRunning(program, true);

    int64_t mark = JournalMark();
    Click(Control(program, IDC_LED3));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4 })) << "clear, then the 0 before the value";
    EXPECT_EQ(SendMessageA(Control(program, IDC_LED3), BM_GETIMAGE, IMAGE_BITMAP, 0), 0)
        << "no picture to show, and none invented";
}

TEST_F(FailurePathsTest, MissingButtonsAndSliderAreReportedAndThePanelStillWorks)
{
    std::vector<BYTE> panel = PanelTemplate();
    ASSERT_FALSE(panel.empty());
    ASSERT_EQ(WordAt(panel, 2), 0xFFFF) << "an extended template";
    std::vector<int> removed = { IDC_DELAY_SLIDER, IDC_LED1, IDC_LED2, IDC_LED3, IDC_LED4, IDC_LED5,
                                 IDC_LED6, IDC_LED7, IDC_LED8, IDC_SENSOR1, IDC_SENSOR2, IDC_SENSOR3,
                                 IDC_SENSOR4, IDC_SENSOR5 };
    std::vector<BYTE> reduced = WithoutItems(panel, removed);
    ASSERT_EQ(WordAt(reduced, 16), WordAt(panel, 16) - removed.size());

    variant = "Travek-sans-boutons.exe";
    ASSERT_TRUE(MakeVariant(variant.c_str(), { { RT_DIALOG, IDD_CONTROL_PANEL, reduced } }));
    ASSERT_TRUE(LaunchProgram(program, variant.c_str()));
    std::vector<const wchar_t*> texts(1, SLIDER_MESSAGE);
    texts.insert(texts.end(), 13, BUTTON_MESSAGE);
    ExpectErrorBoxes(texts);
    ExpectRunning(program, true);
    ASSERT_TRUE(Control(program, IDC_RESET)) << "the other items are there";

    int64_t mark = JournalMark();
    TypeText(Control(program, IDC_NUMBER_BOX), "300");
    Click(Control(program, IDC_SEND));
    Click(Control(program, IDC_RESET));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 300, 0 }));

    // No slider to read: the effects run at delay 0.
    mark = JournalMark();
    Click(Control(program, IDC_K2000));
    EXPECT_TRUE(WaitFor([&] { return JournalMark() >= mark + 64; }, 5000));
    Click(Control(program, IDC_STOP));
    ASSERT_TRUE(Responds(program, 5000));
    std::vector<int> sweep = ValuesSince(mark);
    ASSERT_GE(sweep.size(), 32u);
    EXPECT_EQ(std::vector<int>(sweep.begin(), sweep.begin() + 4), (std::vector<int>{ 0, 1, 0, 2 }));
    SimPortSetStatus(SimPortAttach(), 119);  // a sensor with no lamp to light
    PumpFor(100);
    EXPECT_TRUE(Responds(program, 5000));
    SimPortSetStatus(SimPortAttach(), 127);
}

TEST_F(FailurePathsTest, NoPanelIsReportedAndThePortIsStillPolled)
{
    variant = "Travek-sans-panneau.exe";
    ASSERT_TRUE(MakeVariant(variant.c_str(), { { RT_DIALOG, IDD_CONTROL_PANEL, {} } }));
    ASSERT_TRUE(LaunchProgram(program, variant.c_str()));
    ExpectErrorBoxes({ PANEL_MESSAGE });
    ExpectRunning(program, false);
    EXPECT_FALSE(program.panel);

    // The window still closes as usual.
    PostMessageA(program.main, WM_CLOSE, 0, 0);
    HWND box = WaitForBox(L"Quitter", 10000);
    ASSERT_TRUE(box);
    AnswerBox(box, IDOK);
    ASSERT_EQ(WaitForSingleObject(program.process.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    GetExitCodeProcess(program.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
}
