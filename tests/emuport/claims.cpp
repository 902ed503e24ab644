// The port's claims as the kernel keeps them: registration at the first
// PPCLAIM (exclusive or shared), one owner, a wait list served longest first.
// An interrupted PPCLAIM leaves its handle on the wait list: the port is
// handed to it at the next release even though nobody waits in PPCLAIM any
// more, and it keeps the port until it claims (PPCLAIM then returns 0 at
// once) or its file is closed. A PPCLAIM retried while its handle is still
// on the wait list would be queued a second time by the kernel, which
// corrupts the list and faults later in parport_release: the device counts
// such retries (`requeued` in the state) so that tests catch them.
#include <errno.h>
#include <stdio.h>
#include <algorithm>
#include <chrono>

#include "openfiles.h"

namespace {

constexpr int CLAIM_SLICE_MS = 5;  // a waiting claim looks for a signal this often

bool PortHeld(const Device& d)
{
    return d.holder >= 0 || d.fault == FAULT_BUSY;
}

// Another live handle of the same device registered with the port.
bool OtherRegistered(int handle, bool exclusiveOnly)
{
    const Handle& h = Handles[handle];
    for (int i = 0; i < MAX_HANDLES; i++) {
        const Handle& o = Handles[i];
        if (i != handle && o.used && o.device == h.device && o.gone == HANDLE_LIVE && o.registered &&
            (o.exclusive || !exclusiveOnly))
            return true;
    }
    return false;
}

// The kernel's registration: refused (ENXIO) beside an exclusive device, and
// for an exclusive one beside any other device, the printer driver included.
int Register(int handle)
{
    Handle& h = Handles[handle];
    const Device& d = Devices[h.device];
    if (d.fault == FAULT_NOPORT || OtherRegistered(handle, true))
        return -ENXIO;
    if (h.exclusive && (d.printer || OtherRegistered(handle, false)))
        return -ENXIO;
    h.registered = true;
    return 0;
}

void TakePort(Device& d, int handle)
{
    d.holder = handle;
    d.control = Handles[handle].savedControl;
}

void Dequeue(Device& d, int handle)
{
    d.waiters.erase(std::remove(d.waiters.begin(), d.waiters.end(), handle), d.waiters.end());
    Handles[handle].queued = false;
}

// Waits on the wait list until the port is this handle's, a signal comes
// (EINTR, the handle staying queued), the device fails or the test's bound passes.
int Wait(int handle, std::unique_lock<std::mutex>& lock)
{
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(d.claimWaitMs);
    for (;;) {
        if (d.holder == handle)
            return 0;
        if (h.gone != HANDLE_LIVE)  // removed: the handle is left with a port that is no more
            return h.gone == HANDLE_VANISHED ? -ENODEV : 0;
        if (d.fault == FAULT_ENOTTY || d.fault == FAULT_EIO)
            return d.fault == FAULT_EIO ? -EIO : -ENOTTY;
        if (ClaimInterrupted && ClaimInterrupted())
            return -EINTR;
        if (d.claimWaitMs > 0 && std::chrono::steady_clock::now() >= deadline) {
            Dequeue(d, handle);
            return -EBUSY;
        }
        ClaimChanged.wait_for(lock, std::chrono::milliseconds(CLAIM_SLICE_MS));
    }
}

}  // namespace

Handle Handles[MAX_HANDLES];

void HandOver(Device& d)
{
    if (PortHeld(d) || d.waiters.empty())
        return;
    int next = d.waiters.front();
    Dequeue(d, next);
    TakePort(d, next);
    ClaimChanged.notify_all();
}

int Claim(int handle, std::unique_lock<std::mutex>& lock)
{
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    if (h.claimed)
        return -EINVAL;
    if (!h.registered) {
        int error = Register(handle);
        if (error)
            return error;
    }
    if (d.holder != handle && PortHeld(d)) {
        if (h.queued) {
            d.requeued++;
            fprintf(stderr, "emuport: %s: PPCLAIM retried on a handle still waiting; the kernel would "
                    "queue it twice and corrupt the port's wait list\n", d.name.c_str());
        } else {
            h.queued = true;
            d.waiters.push_back(handle);
        }
        int error = Wait(handle, lock);
        if (error)
            return error;
        if (h.gone != HANDLE_LIVE) {
            h.claimed = true;
            return 0;
        }
    }
    if (d.holder != handle)
        TakePort(d, handle);
    h.claimed = true;
    d.portMode = h.mode;
    return 0;
}

void Release(int handle)
{
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    h.claimed = false;
    if (d.holder != handle)
        return;
    h.savedControl = d.control;
    d.holder = -1;
    HandOver(d);
    ClaimChanged.notify_all();
}

void Unregister(int handle)
{
    Handle& h = Handles[handle];
    if (h.gone != HANDLE_LIVE)
        return;  // its port went with the device
    Device& d = Devices[h.device];
    if (h.queued)
        Dequeue(d, handle);
    if (h.claimed || d.holder == handle)
        Release(handle);
    h.registered = false;
}
