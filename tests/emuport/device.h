// The emulated ppdev devices: registers, claims, faults and the record of
// data writes, behind one lock. The FUSE glue calls these. The port's rules
// are the kernel's (drivers/char/ppdev.c over drivers/parport), checked
// against it by tests/kernel's conformance suite.
#ifndef EMUPORT_DEVICE_H
#define EMUPORT_DEVICE_H

#include <stdint.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "plug.h"

enum DeviceFault {
    FAULT_NORMAL,
    FAULT_BUSY,      // another program holds the port
    FAULT_ENOTTY,    // injected: every ioctl fails with ENOTTY
    FAULT_EIO,       // injected: every ioctl fails with EIO
    FAULT_VANISHED,  // injected: the file is gone, open handles get ENODEV
    FAULT_REMOVED,   // the driver removed the port: the file is gone, open handles reach nothing
    FAULT_NOPORT,    // a device node with no port behind it: PPCLAIM fails with ENXIO
};

struct WriteRecord {
    int64_t ticks;  // CLOCK_MONOTONIC_RAW in 100 ns units
    uint8_t value;
};

struct Device {
    std::string name;
    uint8_t data;
    uint8_t status;
    uint8_t control;      // as written, the direction bit (0x20) included
    int portMode;         // IEEE 1284 mode of the port while claimed
    int holder;           // handle the port belongs to, -1 if none
    std::deque<int> waiters;  // handles on the port's wait list, longest first
    DeviceFault fault;
    bool printer;         // the printer driver is registered on the port
    unsigned fileMode;    // permission bits of the device file
    int claimWaitMs;      // 0: PPCLAIM waits as long as the port is held, as the kernel's
    int opens;
    uint64_t ioctls;
    uint64_t requeued;    // claims retried on a handle still on the wait list
    std::vector<WriteRecord> record;
    LoopbackPlug plug;    // when on, the status pins follow the data lines
};

extern std::mutex DevicesLock;                // guards every device and handle
extern std::condition_variable ClaimChanged;  // the port changed hands or a fault changed
extern std::vector<Device> Devices;           // the devices, fixed after InitDevices
extern bool (*ClaimInterrupted)();            // true when the waiting claimer got a signal

// Creates `count` devices parport0 ... with the given claim wait.
void InitDevices(int count, int claimWaitMs);
int DeviceCount();
// Index of the device with this name, -1 if none.
int FindDevice(const std::string& name);
bool DeviceVisible(int device);
unsigned DeviceFileMode(int device);

// Who opens: the caller's ids and its supplementary groups.
struct Caller {
    unsigned uid;
    unsigned gid;
    std::vector<unsigned> groups;
};

// Opens a handle on the device for a caller; returns the handle (>= 0) or -errno.
int OpenHandle(int device, const Caller& who, bool wantRead, bool wantWrite);
void CloseHandle(int handle);
// access(2) on the device file: 0 or -EACCES; `mask` of R_OK, W_OK, X_OK.
int CheckAccess(int device, const Caller& who, int mask);
// A ppdev ioctl on a handle: 0 or -errno. `data` holds the argument's bytes
// in and the result's bytes out, as the command's size says.
int HandleIoctl(int handle, unsigned cmd, void* data);

// Applies the commands of a write to NAME.ctl: 0 or -EINVAL (nothing applied).
int ControlDevice(int device, const std::string& text);
void SetFileMode(int device, unsigned mode);
// A fault set by a command: open handles lose the device as the fault says.
void SetFault(Device& d, DeviceFault fault);
std::string DeviceStateText(int device);
// Bytes of the record text from `offset`, at most `size`.
std::string RecordText(int device, int64_t offset, size_t size);
int64_t RecordTextSize(int device);

#endif
