// The real program with parts of its resources taken away: copies of
// Travek.exe whose bitmaps, indicator buttons and slider, or whole panel
// template are removed with UpdateResource. Each shows its messages, in
// order, and then goes on running: the port is written and polled.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "dlgtemplate.h"
#include "program.h"
#include "resfile.h"
#include "resource.h"
#include "sharedport.h"
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

struct Change {
    LPCSTR type;
    int id;
    std::vector<BYTE> data;  // empty: the resource is left out
};

// Writes a copy of Travek.exe beside it, its resources rewritten from the
// original's with the changes made.
static bool MakeVariant(const char* name, const std::vector<Change>& changes)
{
    std::vector<Resource> resources = FileResources(TestFolder() + "Travek.exe");
    std::string from = TestFolder() + "Travek.exe", to = TestFolder() + name;
    if (resources.empty() || !CopyFileA(from.c_str(), to.c_str(), FALSE))
        return false;
    HANDLE update = BeginUpdateResourceA(to.c_str(), TRUE);
    if (!update)
        return false;
    bool ok = true;
    for (Resource& r : resources) {
        for (const Change& c : changes) {
            if (KeyIsOrdinal(r.type, c.type) && KeyIsOrdinal(r.name, MAKEINTRESOURCEA(c.id)))
                r.data = c.data;
        }
        if (!r.data.empty())
            ok = ok && UpdateResourceA(update, KeyArgument(r.type), KeyArgument(r.name), r.language, r.data.data(),
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
    ASSERT_TRUE(Responds(p, WaitMs()));
    EXPECT_FALSE(FindWindowW(L"#32770", L"Erreur")) << "a message more than expected";
    std::vector<int> values = ValuesSince(p.startMark);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 0) << "the start-up write of 0";
    LONG64 reads = SharedPortAttach()->reads;
    EXPECT_TRUE(WaitFor([&] { return SharedPortAttach()->reads > reads + 5; }, 3000)) << "polling stopped";
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
    ASSERT_EQ(WordAt(reduced, TEMPLATE_COUNT_AT), WordAt(panel, TEMPLATE_COUNT_AT) - removed.size());

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
    EXPECT_TRUE(WaitFor([&] { return JournalMark() >= mark + 64; }, WaitMs()));
    Click(Control(program, IDC_STOP));
    ASSERT_TRUE(Responds(program, WaitMs()));
    std::vector<int> sweep = ValuesSince(mark);
    ASSERT_GE(sweep.size(), 32u);
    EXPECT_EQ(std::vector<int>(sweep.begin(), sweep.begin() + 4), (std::vector<int>{ 0, 1, 0, 2 }));
    SimPortSetStatus(SharedPortAttach(), 119);  // a sensor with no lamp to light
    LetTimePass(100);
    EXPECT_TRUE(Responds(program, WaitMs()));
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
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
    HWND box = WaitForBox(L"Quitter", WaitLongMs());
    ASSERT_TRUE(box);
    AnswerBox(box, IDOK);
    ASSERT_EQ(WaitForSingleObject(program.process.hProcess, WaitLongMs()), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    GetExitCodeProcess(program.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
}
