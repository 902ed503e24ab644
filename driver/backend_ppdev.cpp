// A ppdev device through the native helper (see the bridge in portstate.h):
// each write is journaled and the helper rung only if it sleeps; the status
// register reads what the helper last read. The helper's start, loss and
// restarts are watched by helperwatch.cpp.
#include "backend.h"
#include "helperwatch.h"
#include "unixcall.h"
#include <limits.h>
#include <stdio.h>

static PortState* g_state;  // the shared state
static int g_slot = -1;        // this process's client slot, counted in while it writes

// Wakes every waiter on the doorbell.
static void WakeAll(uint32_t* doorbell)
{
    UnixFutexWake(doorbell, INT_MAX);
}

static int16_t PpdevRead(uint16_t port)
{
    SharedPortValidate(g_state);
    int64_t now = SharedPortNow();
    PortStateNoteRead(g_state, now);
    HelperWatch(now);
    switch (port) {
    case PORT_DATA: return static_cast<int16_t>(AtomicLoad(&g_state->data) & 0xFF);
    case PORT_STATUS: return static_cast<int16_t>(AtomicLoad(&g_state->status));
    case PORT_CONTROL: return static_cast<int16_t>(AtomicLoad(&g_state->control) & 0xFF);
    default: return 0xFF;  // only the data and status registers reach the device
    }
}

static void PpdevWrite(uint16_t port, uint16_t value)
{
    SharedPortValidate(g_state);
    PortStateWrite(g_state, g_slot, port, value, SharedPortNow, WakeAll);
    HelperWatch(AtomicLoad(&g_state->lastWriteTicks));
}

static const PortBackend g_ppdev = { PpdevRead, PpdevWrite };

const PortBackend* PpdevBackend(PortState* s, const PortConfig& c)
{
    if (!SharedPortFilePath()) {
        char text[PORTSTATE_TEXT];
        snprintf(text, sizeof text, "TRAVEK_PORT : « %s » : un périphérique ppdev ne se pilote que sous Linux "
                 "(Wine), avec l'état partagé dans un fichier", c.target);
        ReportFault(s, UnderWine() ? PORT_FAULT_BRIDGE_FILES : PORT_FAULT_CONFIG, text);
        AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
        return nullptr;
    }
    g_state = s;
    g_slot = SharedPortClientSlot();
    // The first selection of the device: the start-up write, the next one,
    // is the first to reach the wire, and no read has come from it yet (the
    // status dates from now).
    if (AtomicExchange(&s->backend, uint32_t(PORT_BACKEND_PPDEV)) != PORT_BACKEND_PPDEV) {
        AtomicStore(&s->applied, SharedPortWriteCount(s));
        AtomicStore(&s->status, PORT_STATUS_IDLE);
        AtomicStore(&s->statusTicks, SharedPortNow());
        PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
    }
    HelperWatchStart(s);
    return &g_ppdev;
}
