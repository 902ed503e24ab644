// ppdev semantics of drivers/char/ppdev.c on an emulated port: mode and
// phase before the claim, every register ioctl EINVAL until PPCLAIM (the
// claims themselves in claims.cpp), the registers as parport_pc keeps them.
#include "device.h"

#include <errno.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <algorithm>

#include "emuport.h"
#include "openfiles.h"
#include "portnative.h"

std::mutex DevicesLock;
std::condition_variable ClaimChanged;
std::vector<Device> Devices;
bool (*ClaimInterrupted)() = nullptr;

namespace {

// ppdev's one lock: every ioctl on every device holds it, a PPCLAIM waiting
// for a held port included, so that the holder's PPRELEASE waits until that
// claim is interrupted (closing the holder's file takes no lock).
std::mutex IoctlLock;

constexpr unsigned LP_GID = 7;          // Debian's lp group, the device files' group
constexpr int PHASE_FWD_IDLE = 1;  // the kernel's ieee1284_phase values
constexpr int PHASE_REV_IDLE = 5;
constexpr uint8_t DATA_FLOATING = 0xFF;  // what data lines turned into inputs read here

int InitPhase(int mode)
{
    return (mode == IEEE1284_MODE_NIBBLE || mode == IEEE1284_MODE_BYTE) ? PHASE_REV_IDLE
                                                                         : PHASE_FWD_IDLE;
}

int PutInt(void* data, int value) { memcpy(data, &value, sizeof value); return 0; }
int GetInt(const void* data) { int v; memcpy(&v, data, sizeof v); return v; }
int PutByte(void* data, uint8_t value) { memcpy(data, &value, 1); return 0; }
uint8_t GetByte(const void* data) { return *static_cast<const uint8_t*>(data); }

bool FaultedHandle(const Handle& h, const Device& d, int* error)
{
    if (h.gone == HANDLE_VANISHED)
        *error = -ENODEV;
    else if (h.gone == HANDLE_LIVE && d.fault == FAULT_ENOTTY)
        *error = -ENOTTY;
    else if (h.gone == HANDLE_LIVE && d.fault == FAULT_EIO)
        *error = -EIO;
    else
        return false;
    return true;
}

// The ioctls that need no claim; false if `cmd` is not one of them.
bool UnclaimedIoctl(int handle, unsigned cmd, void* data, std::unique_lock<std::mutex>& lock, int* result)
{
    Handle& h = Handles[handle];
    switch (cmd) {
    case PPCLAIM: *result = Claim(handle, lock); return true;
    case PPEXCL:
        *result = !h.registered ? (h.exclusive = true, 0) : (h.exclusive ? 0 : -EINVAL);
        return true;
    case PPSETMODE:
        h.mode = GetInt(data);
        h.phase = InitPhase(h.mode);
        if (h.claimed)
            Devices[h.device].portMode = h.mode;
        *result = 0;
        return true;
    case PPGETMODE: *result = PutInt(data, h.claimed ? Devices[h.device].portMode : h.mode); return true;
    case PPSETPHASE: h.phase = GetInt(data); *result = 0; return true;
    case PPGETPHASE: *result = PutInt(data, h.phase); return true;
    case PPGETMODES: *result = PutInt(data, PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE); return true;
    case PPSETFLAGS: h.flags = GetInt(data) & PP_FLAGMASK; *result = 0; return true;
    case PPGETFLAGS: *result = PutInt(data, h.flags); return true;
    default: return false;
    }
}

// parport_pc's control register: bits 0-3 drive the lines and read back;
// bit 5 turns the data lines around (and never reads back), others are dropped.
void WriteControl(Device& d, uint8_t mask, uint8_t value)
{
    if (mask & CONTROL_REVERSE)
        d.control = static_cast<uint8_t>((d.control & ~CONTROL_REVERSE) | (value & CONTROL_REVERSE));
    mask &= CONTROL_LINES;
    d.control = static_cast<uint8_t>((d.control & ~mask) | (value & mask));
}

uint8_t ReadData(const Device& d)
{
    return (d.control & CONTROL_REVERSE) ? DATA_FLOATING : d.data;
}

int ClaimedIoctl(int handle, unsigned cmd, void* data)
{
    Device& d = Devices[Handles[handle].device];
    switch (cmd) {
    case PPRSTATUS: return PutByte(data, d.plug.on ? LoopbackStatus(d.plug, d.data, d.status) : d.status);
    case PPRDATA: return PutByte(data, ReadData(d));
    case PPRCONTROL: return PutByte(data, d.control & CONTROL_LINES);
    case PPWDATA:
        d.data = GetByte(data);
        d.record.push_back(WriteRecord{PortNativeTicks(), d.data});
        return 0;
    case PPWCONTROL: {
        uint8_t v = GetByte(data);  // bit 5 set turns the lines around; clear, it leaves them
        WriteControl(d, static_cast<uint8_t>(CONTROL_LINES | (v & CONTROL_REVERSE)), v);
        return 0;
    }
    case PPFCONTROL: {
        ppdev_frob_struct frob;
        memcpy(&frob, data, sizeof frob);
        WriteControl(d, frob.mask, frob.val);
        return 0;
    }
    case PPDATADIR: WriteControl(d, CONTROL_REVERSE, GetInt(data) ? CONTROL_REVERSE : 0); return 0;
    case PPRELEASE: Release(handle); return 0;
    case PPYIELD: return 0;
    case PPNEGOT: return GetInt(data) == IEEE1284_MODE_COMPAT ? 0 : -EIO;  // no IEEE 1284 peripheral
    case PPWCTLONIRQ: return 0;
    case PPCLRIRQ: return PutInt(data, 0);
    default: return -EINVAL;
    }
}

// A handle whose port the driver removed: the kernel leaves it a port whose
// every operation does nothing (writes go nowhere, reads give 0).
int RemovedIoctl(int handle, unsigned cmd, void* data)
{
    Handle& h = Handles[handle];
    switch (cmd) {
    case PPCLAIM: return h.claimed ? -EINVAL : (h.claimed = true, 0);
    case PPRELEASE: return h.claimed ? (h.claimed = false, 0) : -EINVAL;
    case PPRSTATUS: case PPRDATA: case PPRCONTROL: return h.claimed ? PutByte(data, 0) : -EINVAL;
    case PPWDATA: case PPWCONTROL: case PPFCONTROL: case PPDATADIR: return h.claimed ? 0 : -EINVAL;
    default: return -EINVAL;
    }
}

bool InGroup(const Caller& who, unsigned gid)
{
    return who.gid == gid || std::find(who.groups.begin(), who.groups.end(), gid) != who.groups.end();
}

bool Permitted(unsigned mode, const Caller& who, bool wantRead, bool wantWrite)
{
    unsigned bits = who.uid == 0 ? (mode >> 6) : InGroup(who, LP_GID) ? (mode >> 3) : mode;
    return (!wantRead || (bits & 4)) && (!wantWrite || (bits & 2));
}

bool NodeExists(const Device& d)
{
    return d.fault != FAULT_VANISHED && d.fault != FAULT_REMOVED;
}

}  // namespace


void InitDevices(int count, int claimWaitMs)
{
    for (int i = 0; i < count; i++) {
        Device d{};
        d.name = "parport" + std::to_string(i);
        d.status = EMUPORT_DEFAULT_STATUS;
        d.control = CONTROL_AT_START;
        d.portMode = IEEE1284_MODE_COMPAT;
        d.holder = -1;
        d.fault = FAULT_NORMAL;
        d.fileMode = EMUPORT_DEFAULT_MODE;
        d.claimWaitMs = claimWaitMs;
        ResetPlug(&d.plug, false);
        Devices.push_back(d);
    }
}

int DeviceCount() { return static_cast<int>(Devices.size()); }

int FindDevice(const std::string& name)
{
    for (int i = 0; i < DeviceCount(); i++)
        if (Devices[i].name == name)
            return i;
    return -1;
}

bool DeviceVisible(int device)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    return NodeExists(Devices[device]);
}

unsigned DeviceFileMode(int device)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    return Devices[device].fileMode;
}

int OpenHandle(int device, const Caller& who, bool wantRead, bool wantWrite)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    Device& d = Devices[device];
    if (!NodeExists(d))
        return -ENOENT;
    if (!Permitted(d.fileMode, who, wantRead, wantWrite))
        return -EACCES;
    for (int i = 0; i < MAX_HANDLES; i++) {
        if (Handles[i].used)
            continue;
        Handles[i] = Handle{true, device, HANDLE_LIVE, false, false, false, false, CONTROL_AT_START,
                            IEEE1284_MODE_COMPAT, PHASE_FWD_IDLE, 0};
        d.opens++;
        return i;
    }
    return -EMFILE;
}

int CheckAccess(int device, const Caller& who, int mask)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    bool run = mask & 1;  // X_OK: a device file is never executable
    bool ok = Permitted(Devices[device].fileMode, who, mask & 4, mask & 2) && !run;
    return ok ? 0 : -EACCES;
}

void CloseHandle(int handle)
{
    if (handle < 0 || handle >= MAX_HANDLES)
        return;
    std::lock_guard<std::mutex> lock(DevicesLock);
    if (!Handles[handle].used)
        return;
    Unregister(handle);
    Devices[Handles[handle].device].opens--;
    Handles[handle].used = false;
}

void SetFault(Device& d, DeviceFault fault)
{
    // The file going away takes the port of every open handle with it.
    if ((fault == FAULT_VANISHED || fault == FAULT_REMOVED) && NodeExists(d)) {
        int index = static_cast<int>(&d - Devices.data());
        for (Handle& h : Handles)
            if (h.used && h.device == index && h.gone == HANDLE_LIVE)
                h.gone = fault == FAULT_VANISHED ? HANDLE_VANISHED : HANDLE_REMOVED;
        d.holder = -1;
        d.waiters.clear();
        d.control = CONTROL_AT_START;
    }
    d.fault = fault;
    HandOver(d);
    ClaimChanged.notify_all();
}

int HandleIoctl(int handle, unsigned cmd, void* data)
{
    if (handle < 0 || handle >= MAX_HANDLES)
        return -EBADF;
    std::lock_guard<std::mutex> one(IoctlLock);
    std::unique_lock<std::mutex> lock(DevicesLock);
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    d.ioctls++;
    int result = 0;
    if (FaultedHandle(h, d, &result))
        return result;
    if (h.gone == HANDLE_REMOVED && cmd != PPEXCL && cmd != PPGETMODES)
        return RemovedIoctl(handle, cmd, data);
    if (UnclaimedIoctl(handle, cmd, data, lock, &result))
        return result;
    if (!h.claimed)
        return -EINVAL;
    return ClaimedIoctl(handle, cmd, data);
}
