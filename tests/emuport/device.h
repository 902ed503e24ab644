// The emulated ppdev devices: registers, claims, faults and the record of
// data writes, behind one lock. The FUSE glue calls these; every call returns
// within the claim wait at most.
#ifndef EMUPORT_DEVICE_H
#define EMUPORT_DEVICE_H

#include <stdint.h>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "plug.h"

enum DeviceFault { FAULT_NORMAL, FAULT_BUSY, FAULT_ENOTTY, FAULT_EIO, FAULT_VANISHED };

struct WriteRecord {
    int64_t ticks;  // CLOCK_MONOTONIC_RAW in 100 ns units
    uint8_t value;
};

struct Device {
    std::string name;
    uint8_t data;
    uint8_t status;
    uint8_t control;
    int portMode;         // IEEE 1284 mode of the port while claimed
    int holder;           // handle holding the claim, -1 if none
    DeviceFault fault;
    bool printer;         // the printer driver is loaded: exclusive claims fail
    unsigned generation;  // bumped when the device vanishes
    unsigned fileMode;    // permission bits of the device file
    int claimWaitMs;
    int opens;
    uint64_t ioctls;
    std::vector<WriteRecord> record;
    LoopbackPlug plug;    // when on, the status pins follow the data lines
};

extern std::mutex DevicesLock;                // guards every device and handle
extern std::condition_variable ClaimChanged;  // a claim was released or a fault changed
extern std::vector<Device> Devices;           // the devices, fixed after InitDevices
extern bool (*ClaimInterrupted)();            // true when the waiting claimer got a signal

// Creates `count` devices parport0 ... with the given claim wait.
void InitDevices(int count, int claimWaitMs);
int DeviceCount();
// Index of the device with this name, -1 if none.
int FindDevice(const std::string& name);
bool DeviceVisible(int device);
unsigned DeviceFileMode(int device);

// Opens a handle on the device for a caller; returns the handle (>= 0) or -errno.
int OpenHandle(int device, unsigned uid, unsigned gid, bool wantRead, bool wantWrite);
void CloseHandle(int handle);
// access(2) on the device file: 0 or -EACCES; `mask` of R_OK, W_OK, X_OK.
int CheckAccess(int device, unsigned uid, unsigned gid, int mask);
// A ppdev ioctl on a handle: 0 or -errno. `data` holds the argument's bytes
// in and the result's bytes out, as the command's size says.
int HandleIoctl(int handle, unsigned cmd, void* data);

// Applies the commands of a write to NAME.ctl: 0 or -EINVAL (nothing applied).
int ControlDevice(int device, const std::string& text);
void SetFileMode(int device, unsigned mode);
std::string DeviceStateText(int device);
// Bytes of the record text from `offset`, at most `size`.
std::string RecordText(int device, int64_t offset, size_t size);
int64_t RecordTextSize(int device);

int64_t MonotonicRawTicks();

#endif
