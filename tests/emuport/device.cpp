// ppdev semantics of drivers/char/ppdev.c on an emulated port: mode and
// phase before the claim, every register ioctl EINVAL until PPCLAIM, one
// holder at a time with later claimers waiting (bounded here), raw registers.
#include "device.h"

#include <errno.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <chrono>

#include "emuport.h"

std::mutex DevicesLock;
std::condition_variable ClaimChanged;
std::vector<Device> Devices;
bool (*ClaimInterrupted)() = nullptr;

namespace {

constexpr int MAX_HANDLES = 256;        // open handles at once over all devices
constexpr uint8_t CONTROL_AT_CLAIM = 0x0C;  // nInit high, nSelectIn high: what a claim restores
constexpr unsigned LP_GID = 7;          // Debian's lp group, the device files' group
constexpr int TICKS_PER_SECOND = 10000000;
constexpr int CLAIM_SLICE_MS = 5;  // a waiting claim looks for a signal this often
constexpr int PHASE_FWD_IDLE = 1;  // the kernel's ieee1284_phase values
constexpr int PHASE_REV_IDLE = 5;

struct Handle {
    bool used;
    int device;
    unsigned generation;  // the device's generation when opened
    bool registered;      // the first PPCLAIM registers the handle with the port
    bool exclusive;       // PPEXCL before registration
    bool claimed;
    int mode;             // IEEE 1284 mode set before the claim
    int phase;
    int flags;            // PP_FLAGMASK bits
};

Handle Handles[MAX_HANDLES];  // open handles, indexed by the FUSE file handle

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
    if (h.generation != d.generation)
        *error = -ENODEV;
    else if (d.fault == FAULT_ENOTTY)
        *error = -ENOTTY;
    else if (d.fault == FAULT_EIO)
        *error = -EIO;
    else
        return false;
    return true;
}

int Claim(int handle, std::unique_lock<std::mutex>& lock)
{
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    if (h.claimed)
        return -EINVAL;
    if (!h.registered) {
        if (h.exclusive && d.printer)
            return -ENXIO;
        h.registered = true;
    }
    // The kernel blocks until the holder lets go or a signal comes (EINTR);
    // here the wait is also bounded, then EBUSY.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(d.claimWaitMs);
    int error = 0;
    while (d.holder >= 0 || d.fault == FAULT_BUSY) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -EBUSY;
        ClaimChanged.wait_for(lock, std::chrono::milliseconds(CLAIM_SLICE_MS));
        if (FaultedHandle(h, d, &error))
            return error;
        if (ClaimInterrupted && ClaimInterrupted())
            return -EINTR;
    }
    h.claimed = true;
    d.holder = handle;
    d.control = CONTROL_AT_CLAIM;
    d.portMode = h.mode;
    return 0;
}

void Release(int handle)
{
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    h.claimed = false;
    if (d.holder == handle)
        d.holder = -1;
    ClaimChanged.notify_all();
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

int ClaimedIoctl(int handle, unsigned cmd, void* data)
{
    Device& d = Devices[Handles[handle].device];
    switch (cmd) {
    case PPRSTATUS: return PutByte(data, d.plug.on ? LoopbackStatus(d.plug, d.data, d.status) : d.status);
    case PPRDATA: return PutByte(data, d.data);
    case PPRCONTROL: return PutByte(data, d.control);
    case PPWDATA:
        d.data = GetByte(data);
        d.record.push_back(WriteRecord{MonotonicRawTicks(), d.data});
        return 0;
    case PPWCONTROL: d.control = GetByte(data); return 0;
    case PPFCONTROL: {
        ppdev_frob_struct frob;
        memcpy(&frob, data, sizeof frob);
        d.control = static_cast<uint8_t>((d.control & ~frob.mask) ^ frob.val);
        return 0;
    }
    case PPRELEASE: Release(handle); return 0;
    case PPYIELD: return 0;
    case PPDATADIR: return 0;
    case PPNEGOT: return GetInt(data) == IEEE1284_MODE_COMPAT ? 0 : -EIO;  // no IEEE 1284 peripheral
    case PPWCTLONIRQ: return 0;
    case PPCLRIRQ: return PutInt(data, 0);
    default: return -EINVAL;
    }
}

bool Permitted(unsigned mode, unsigned uid, unsigned gid, bool wantRead, bool wantWrite)
{
    unsigned bits = uid == 0 ? (mode >> 6) : gid == LP_GID ? (mode >> 3) : mode;
    return (!wantRead || (bits & 4)) && (!wantWrite || (bits & 2));
}

}  // namespace

int64_t MonotonicRawTicks()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
    return int64_t(ts.tv_sec) * TICKS_PER_SECOND + ts.tv_nsec / 100;
}

void InitDevices(int count, int claimWaitMs)
{
    for (int i = 0; i < count; i++) {
        Device d{};
        d.name = "parport" + std::to_string(i);
        d.status = EMUPORT_DEFAULT_STATUS;
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
    return Devices[device].fault != FAULT_VANISHED;
}

unsigned DeviceFileMode(int device)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    return Devices[device].fileMode;
}

int OpenHandle(int device, unsigned uid, unsigned gid, bool wantRead, bool wantWrite)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    Device& d = Devices[device];
    if (d.fault == FAULT_VANISHED)
        return -ENOENT;
    if (!Permitted(d.fileMode, uid, gid, wantRead, wantWrite))
        return -EACCES;
    for (int i = 0; i < MAX_HANDLES; i++) {
        if (Handles[i].used)
            continue;
        Handles[i] = Handle{true, device, d.generation, false, false, false, IEEE1284_MODE_COMPAT,
                            PHASE_FWD_IDLE, 0};
        d.opens++;
        return i;
    }
    return -EMFILE;
}

int CheckAccess(int device, unsigned uid, unsigned gid, int mask)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    bool run = mask & 1;  // X_OK: a device file is never executable
    bool ok = Permitted(Devices[device].fileMode, uid, gid, mask & 4, mask & 2) && !run;
    return ok ? 0 : -EACCES;
}

void CloseHandle(int handle)
{
    if (handle < 0 || handle >= MAX_HANDLES)
        return;
    std::lock_guard<std::mutex> lock(DevicesLock);
    if (!Handles[handle].used)
        return;
    if (Handles[handle].claimed)
        Release(handle);
    Devices[Handles[handle].device].opens--;
    Handles[handle].used = false;
}

int HandleIoctl(int handle, unsigned cmd, void* data)
{
    if (handle < 0 || handle >= MAX_HANDLES)
        return -EBADF;
    std::unique_lock<std::mutex> lock(DevicesLock);
    Handle& h = Handles[handle];
    Device& d = Devices[h.device];
    d.ioctls++;
    int result = 0;
    if (FaultedHandle(h, d, &result))
        return result;
    if (UnclaimedIoctl(handle, cmd, data, lock, &result))
        return result;
    if (!h.claimed)
        return -EINVAL;
    return ClaimedIoctl(handle, cmd, data);
}
