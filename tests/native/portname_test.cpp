// The one grammar of a port's name, as the library, the run command and
// native tools apply it: each accepted form, and a refusal that lists them.
#include <gtest/gtest.h>
#include <string>
#include "portconfig.h"

TEST(PortName, AcceptedFormsAndTheirTargets)
{
    struct Case { const char* text; PortBackendKind backend; const char* target; } cases[] = {
        { "sim", PORT_BACKEND_SIMULATED, "sim" },
        { "direct", PORT_BACKEND_DIRECT, "direct" },
        { "C:\\Ports\\port32.DLL", PORT_BACKEND_CHAINED, "C:\\Ports\\port32.DLL" },
        { "/dev/parport0", PORT_BACKEND_PPDEV, "/dev/parport0" },
        { "parport0", PORT_BACKEND_PPDEV, "/dev/parport0" },
        { "parport12", PORT_BACKEND_PPDEV, "/dev/parport12" },
    };
    for (const Case& c : cases) {
        PortName n;
        char m[PORTSTATE_TEXT] = "";
        ASSERT_TRUE(ParsePortName(c.text, "TRAVEK_PORT", &n, m, sizeof m)) << c.text << ": " << m;
        EXPECT_EQ(n.backend, c.backend) << c.text;
        EXPECT_STREQ(n.target, c.target);
    }
}

TEST(PortName, AnythingElseIsRefusedWithTheAcceptedForms)
{
    const char* bad[] = { "", "lpt1", "parport", "parport1234", "parportX", "dev/parport0", ".dll", "Sim",
                          "/", "parport0 ", "/dev/parport0\n" };
    for (const char* text : bad) {
        PortName n;
        char m[PORTSTATE_TEXT] = "";
        EXPECT_FALSE(ParsePortName(text, "TRAVEK_PORT", &n, m, sizeof m)) << "[" << text << "]";
        std::string message(m);
        EXPECT_NE(message.find("TRAVEK_PORT"), std::string::npos) << message;
        EXPECT_NE(message.find("parportN"), std::string::npos) << message;
        EXPECT_NE(message.find("sim, direct"), std::string::npos) << message;
    }
    PortConfig c;
    PortSetting port = {};
    port.set = true;
    snprintf(port.value, sizeof port.value, "lpt1");
    snprintf(port.origin, sizeof port.origin, "travek-port.conf, ligne 2");
    ResolvePortConfig(PortSetting{}, PortSetting{}, port, PortSetting{}, &c);
    EXPECT_EQ(c.fault, PORT_FAULT_CONFIG) << "the file's value goes through the same grammar";
    EXPECT_NE(std::string(c.message).find("ligne 2"), std::string::npos) << c.message;
}
