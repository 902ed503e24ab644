// The helper carrying a session to the kernel's driver: clicks, Envoi values
// and a K2000 pass at delay 0, every 0 included, as the program writes them;
// the status read from the port reaching the shared state.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "portnative.h"
#include "realport.h"
#include "session.h"

constexpr int MARK_CLAIM_MS = 2000;
constexpr uint16_t LED3 = 4, LED8 = 128;                   // the values of two LED clicks
constexpr uint16_t ENVOI_VALUES[] = { 300, 0xFFFF, 0 };    // Envoi of 300, -1 and 0

// Claims the port for a moment: reads its status, writes a marker and its id.
static bool Mark(const std::string& device, const uint8_t (&mark)[3], int id, uint8_t* status)
{
    int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ClaimCut(fd, MARK_CLAIM_MS) == 0 && ioctl(fd, PPRSTATUS, status) == 0;
    for (uint8_t v : mark)
        ok = ok && ioctl(fd, PPWDATA, &v) == 0;
    uint8_t last = static_cast<uint8_t>(id);
    ok = ok && ioctl(fd, PPWDATA, &last) == 0;
    close(fd);
    return ok;
}

// A click on the panel or Envoi: the outputs cleared (0), then the value
// written after its own 0.
static void Click(Live* l, uint16_t value)
{
    Write(l, 0);
    Write(l, 0);
    Write(l, value);
}

static bool StatusBecomes(Live* l, int32_t value, int ms)
{
    int64_t end = PortNativeMs() + ms;
    while (AtomicLoad(&l->s->status) != value && PortNativeMs() < end)
        usleep(1000);
    return AtomicLoad(&l->s->status) == value;
}

static void PrintJournal(Live* l, int id)
{
    std::vector<JournalWrite> w(AtomicLoad(&l->s->writes));
    int64_t next = 0, dropped = 0;
    size_t n = PortStateCopyJournal(l->s, 0, w.data(), w.size(), &next, &dropped, PortNativeSleep);
    printf("MARKS");
    for (uint8_t v : SESSION_MARK_START)
        printf(" %u", v);
    for (uint8_t v : SESSION_MARK_END)
        printf(" %u", v);
    printf("\nJOURNAL %d", id);
    for (size_t i = 0; i < n; ++i)
        if (w[i].port == PORT_DATA)
            printf(" %u", w[i].value & 0xFFu);
    printf("\n");
    fflush(stdout);
}

int RunWire(int id, const std::string& name, const std::string& helper, const std::string& device)
{
    uint8_t status = 0, unused = 0;
    Live l;
    std::string why;
    if (!Report(name + "_start", Mark(device, SESSION_MARK_START, id, &status) && LiveOpen(&l, device, &why),
                "no marker or no session: " + why))
        return 1;
    LiveStartHelper(&l, helper);
    bool ok = Report(name + "_serving", WaitFor(Serving, &l, SESSION_SETTLE_MS), l.s->faultText);
    ok = Report(name + "_status_reaches_state", StatusBecomes(&l, status, SESSION_SETTLE_MS),
                "status " + std::to_string(AtomicLoad(&l.s->status)) + " in the state, the port reads " +
                    std::to_string(status)) && ok;
    Write(&l, 0);  // the program's start-up write
    Click(&l, LED3);
    for (uint16_t v : ENVOI_VALUES)
        Click(&l, v);
    RunK2000(l.s, LibraryWrite, 1);
    Click(&l, LED8);
    ok = Report(name + "_all_applied", WaitFor(AllApplied, &l, SESSION_SETTLE_MS),
                std::to_string(AtomicLoad(&l.s->applied)) + " of " + std::to_string(AtomicLoad(&l.s->writes))) && ok;
    LiveQuit(&l);
    bool ended = LiveWaitHelper(&l, SESSION_SETTLE_MS);
    ok = Report(name + "_helper_ends", ended && l.helperStatus == 0,
                "code " + std::to_string(l.helperStatus) + ": " + l.helperErr) && ok;
    ok = Report(name + "_end", Mark(device, SESSION_MARK_END, id, &unused), "no end marker") && ok;
    PrintJournal(&l, id);
    LiveClose(&l);
    return ok ? 0 : 1;
}
