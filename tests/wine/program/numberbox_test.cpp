// The number box against its rule, over many generated texts typed through the
// real window: the first 31 characters are read; any of them that is not a
// digit refuses the text with a message box and no write; otherwise the port
// receives 0 then the number modulo 65536.
#include <gtest/gtest.h>
#include <windows.h>
#include <random>
#include <string>
#include <vector>
#include "program.h"
#include "sharedport.h"
#include "testwin.h"
#include "numbertexts.h"
#include "resource.h"

static std::string AnyChars(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += Pick(0, 1) ? NonDigit() : static_cast<char>('0' + Pick(0, 9));
    return s;
}

static std::vector<std::string> ValidTexts()
{
    TextRng().seed(20261208);  // fixed seed: the same texts every run
    std::vector<std::string> t = { "", "0", "65535", "65536", "131071", std::string(31, '9'),
                                   std::string(31, '0'), "0000000000000000000000000000000 x" };
    for (int i = 0; i < 40; ++i)
        t.push_back(Digits(Pick(1, 6)));  // around the 16-bit range
    for (int i = 0; i < 40; ++i)
        t.push_back(Digits(Pick(7, 31)));  // up to the 31 read
    for (int i = 0; i < 40; ++i)
        t.push_back(Digits(31) + AnyChars(Pick(1, 40)));  // anything past the 31 read
    for (int i = 0; i < 22; ++i)
        t.push_back(Digits(Pick(100, 600)));  // very long runs of digits
    return t;
}

static std::vector<std::string> InvalidTexts()
{
    std::vector<std::string> t = { " ", "-1", "+5", Digits(30) + "\xe9" };
    for (int i = 0; i < 3; ++i) {  // one non-digit anywhere in the 31 read
        std::string s = Digits(Pick(31, 80));
        s[Pick(0, 30)] = NonDigit();
        t.push_back(s);
    }
    return t;
}

struct WindowCount {
    DWORD pid;
    int all;
    int visible;
    int boxes;  // visible dialogs (message boxes)
};

static BOOL CALLBACK CountWindow(HWND w, LPARAM lp)
{
    WindowCount* c = reinterpret_cast<WindowCount*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != c->pid)
        return TRUE;
    ++c->all;
    if (IsWindowVisible(w)) {
        ++c->visible;
        char cls[32];
        if (GetClassNameA(w, cls, sizeof(cls)) && strcmp(cls, "#32770") == 0)
            ++c->boxes;
    }
    return TRUE;
}

static WindowCount TopLevelWindows(const Program& p)
{
    WindowCount c = { p.process.dwProcessId, 0, 0, 0 };
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&c));
    return c;
}

TEST(NumberBoxTest, GeneratedTextsFollowTheRule)
{
    Program app;
    ASSERT_TRUE(StartProgram(app));
    PortState* port = SharedPortAttach();
    HWND box = Control(app, IDC_NUMBER_BOX), envoi = Control(app, IDC_SEND);
    WindowCount before = TopLevelWindows(app);
    EXPECT_EQ(before.visible, 1) << "the main window only";

    std::vector<std::string> valid = ValidTexts(), invalid = InvalidTexts();
    std::vector<std::string> texts = valid;
    // Interleave the refusals so that each follows a known write.
    for (size_t i = 0; i < invalid.size(); ++i)
        texts.insert(texts.begin() + static_cast<long>(10 + i * 20), invalid[i]);
    int lastData = -1, validSeen = 0, invalidSeen = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE("text of " + std::to_string(text.size()) + " chars: \"" + text.substr(0, 60) + "\"");
        Expected e = NumberRule(text);
        TypeText(box, text);
        int64_t mark = JournalMark();
        if (e.valid) {
            ++validSeen;
            Click(envoi);
            EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, static_cast<short>(e.value) }));
            EXPECT_EQ(port->data, e.value & 0xFF);
            lastData = port->data;
        } else {
            ++invalidSeen;
            ClickLater(envoi);
            HWND msg = WaitForBox(L"Chiffre incorrect", WaitLongMs());
            ASSERT_NE(msg, nullptr);
            EXPECT_EQ(BoxText(msg), L"Veuillez entrer un nombre valide");
            AnswerBox(msg, IDOK);
            ASSERT_TRUE(Responds(app, WaitLongMs()));
            EXPECT_TRUE(JournalSince(mark).empty()) << "a refused text writes nothing";
            EXPECT_EQ(port->data, lastData);
        }
        if (HasFatalFailure())
            break;
    }
    EXPECT_EQ(validSeen, static_cast<int>(valid.size()));
    EXPECT_EQ(invalidSeen, static_cast<int>(invalid.size()));

    EXPECT_TRUE(Responds(app, WaitMs()));
    EXPECT_EQ(WaitForSingleObject(app.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still running";
    WindowCount after = TopLevelWindows(app);
    EXPECT_EQ(after.boxes, 0) << "no message box left open";
    EXPECT_EQ(after.visible, before.visible);
    EXPECT_EQ(after.all, before.all) << "no top-level window leaked";
    StopProgram(app);
}
