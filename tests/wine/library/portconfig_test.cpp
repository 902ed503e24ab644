// The port configuration's parser: what each form of TRAVEK_PORT selects, the
// base's accepted forms and its precise refusals, the file beside the DLL,
// and the variable winning over the file.
#include <gtest/gtest.h>
#include <string>
#include "portconfig.h"

static PortSetting Set(const char* value, const char* origin = "TRAVEK_PORT")
{
    PortSetting s = {};
    s.set = true;
    snprintf(s.value, sizeof s.value, "%s", value);
    snprintf(s.origin, sizeof s.origin, "%s", origin);
    return s;
}

static const PortSetting UNSET = {};

TEST(PortConfig, TargetFormsSelectTheirBackend)
{
    struct Case {
        const char* value;
        PortBackendKind backend;
    } cases[] = {
        { "sim", PORT_BACKEND_SIMULATED }, { "direct", PORT_BACKEND_DIRECT },
        { "C:\\ports\\port64.dll", PORT_BACKEND_CHAINED }, { "autre.DlL", PORT_BACKEND_CHAINED },
        { "/dev/parport0", PORT_BACKEND_PPDEV },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        PortConfig out;
        ResolvePortConfig(Set(c.value), UNSET, UNSET, UNSET, &out);
        EXPECT_EQ(out.backend, c.backend);
        EXPECT_EQ(out.fault, PORT_FAULT_NONE);
        EXPECT_STREQ(out.target, c.value);
        EXPECT_EQ(out.base, PORT_BASE_DEFAULT);
    }
    PortConfig shortForm;
    ResolvePortConfig(Set("parport1"), UNSET, UNSET, UNSET, &shortForm);
    EXPECT_EQ(shortForm.backend, PORT_BACKEND_PPDEV);
    EXPECT_STREQ(shortForm.target, "/dev/parport1") << "the run command's short form";
    for (const char* bad : { ".dl", "Direct", "lpt1", "parport0x" }) {
        PortConfig out;
        ResolvePortConfig(Set(bad), UNSET, UNSET, UNSET, &out);
        EXPECT_EQ(out.fault, PORT_FAULT_CONFIG) << bad;
        EXPECT_NE(std::string(out.message).find("parportN"), std::string::npos) << out.message;
    }
    PortConfig none;
    ResolvePortConfig(UNSET, UNSET, UNSET, UNSET, &none);
    EXPECT_EQ(none.backend, PORT_BACKEND_SIMULATED);
    EXPECT_STREQ(none.target, "sim");
}

TEST(PortConfig, BaseAcceptsDecimalAndHexWithinRange)
{
    struct Case {
        const char* text;
        uint32_t base;
    } good[] = { { "888", 0x378 }, { "0x278", 0x278 }, { "0XD010", 0xD010 }, { "0xcc00", 0xCC00 },
                 { "1", 1 }, { "0xFFFD", 0xFFFD }, { "00888", 888 } };
    for (const Case& c : good) {
        uint32_t base = 0;
        char m[PORTSTATE_TEXT] = "";
        EXPECT_TRUE(ParsePortBase(c.text, "TRAVEK_PORT_BASE", &base, m, sizeof m)) << c.text << ": " << m;
        EXPECT_EQ(base, c.base) << c.text;
    }
    struct Bad {
        const char* text;
        const char* words;
    } bad[] = { { "", "n'est pas une adresse" }, { "0x", "n'est pas une adresse" },
                { "0x37G", "« 0x37G » n'est pas une adresse" }, { "-5", "n'est pas une adresse" },
                { "+5", "n'est pas une adresse" }, { " 888", "n'est pas une adresse" },
                { "888 ", "n'est pas une adresse" }, { "99999999999", "n'est pas une adresse" },
                { "0x1FFFFFFFF", "n'est pas une adresse" }, { "0", "hors limites" },
                { "0xFFFE", "l'adresse 0xFFFE est hors limites" }, { "70000", "hors limites" } };
    for (const Bad& b : bad) {
        uint32_t base = 0x1234;
        char m[PORTSTATE_TEXT] = "";
        EXPECT_FALSE(ParsePortBase(b.text, "TRAVEK_PORT_BASE", &base, m, sizeof m)) << b.text;
        EXPECT_NE(std::string(m).find(b.words), std::string::npos) << b.text << ": " << m;
        EXPECT_EQ(std::string(m).rfind("TRAVEK_PORT_BASE : ", 0), 0u) << m;
        EXPECT_EQ(base, 0x1234u) << "left alone";
    }
}

TEST(PortConfig, FaultsKeepTheBackendAskedFor)
{
    PortConfig out;
    ResolvePortConfig(Set("x.dll"), Set("0x10000", "TRAVEK_PORT_BASE"), UNSET, UNSET, &out);
    EXPECT_EQ(out.fault, PORT_FAULT_CONFIG);
    EXPECT_EQ(out.backend, PORT_BACKEND_CHAINED);
    EXPECT_NE(std::string(out.message).find("hors limites"), std::string::npos) << out.message;
    ResolvePortConfig(Set(""), UNSET, UNSET, UNSET, &out);
    EXPECT_EQ(out.fault, PORT_FAULT_CONFIG);
    EXPECT_NE(std::string(out.message).find("TRAVEK_PORT est vide"), std::string::npos) << out.message;
}

TEST(PortConfig, FileLinesCommentsAndTheVariableWinning)
{
    const std::string text = "# port of the bench\r\n\n  TRAVEK_PORT = C:\\ports\\p.dll \r\nTRAVEK_PORT_BASE=0xD010";
    PortSetting port, base;
    char m[PORTSTATE_TEXT] = "";
    ASSERT_TRUE(ParsePortConfigFile(text.data(), text.size(), &port, &base, m, sizeof m)) << m;
    EXPECT_STREQ(port.value, "C:\\ports\\p.dll");
    EXPECT_STREQ(base.value, "0xD010");
    EXPECT_STREQ(base.origin, "travek-port.conf, ligne 4");

    PortConfig out;
    ResolvePortConfig(UNSET, UNSET, port, base, &out);
    EXPECT_EQ(out.backend, PORT_BACKEND_CHAINED);
    EXPECT_EQ(out.base, 0xD010u);
    ResolvePortConfig(Set("sim"), Set("0x278", "TRAVEK_PORT_BASE"), port, base, &out);
    EXPECT_EQ(out.backend, PORT_BACKEND_SIMULATED) << "the variable wins";
    EXPECT_EQ(out.base, 0x278u);

    PortSetting badBase = Set("12abc", "travek-port.conf, ligne 2");
    ResolvePortConfig(UNSET, UNSET, port, badBase, &out);
    EXPECT_EQ(std::string(out.message).rfind("travek-port.conf, ligne 2 : « 12abc »", 0), 0u) << out.message;

    struct Bad {
        std::string text;
        const char* words;
    } bad[] = { { "TRAVEK_PORT", "ligne 1 : « NOM=valeur » attendu" },
                { "#\nTRAVEK_PORTE=sim", "ligne 2 : nom inconnu « TRAVEK_PORTE »" },
                { "TRAVEK_PORT=sim\nTRAVEK_PORT=direct", "ligne 2 : nom déjà donné" },
                { "TRAVEK_PORT=" + std::string(300, 'a'), "valeur trop longue" },
                { std::string("TRAVEK_PORT=s\0m", 15), "caractère nul" },
                { std::string(PORT_CONFIG_FILE_MAX + 1, '#'), "fichier trop long" } };
    for (const Bad& b : bad) {
        ASSERT_FALSE(ParsePortConfigFile(b.text.data(), b.text.size(), &port, &base, m, sizeof m)) << b.words;
        EXPECT_NE(std::string(m).find(b.words), std::string::npos) << m;
    }
}
