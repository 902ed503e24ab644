// A stand-in for a ppdev device behind the bridge's function pointers: it
// records data writes, answers a set status and fails on request.
#ifndef HELPER_FAKEDEVICE_H
#define HELPER_FAKEDEVICE_H

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>
#include <mutex>
#include <vector>
#include "bridge.h"
#include "portcore.h"
#include "portnative.h"

struct FakeDevice {
    std::mutex lock;
    std::vector<uint8_t> written;
    uint8_t status = 0x7F;
    int failWriteAt = -1;  // index of the data write that fails with writeError
    int writeError = 0;
    int statusError = 0;   // every status read fails with this, when set
    int writeDelayUs = 0;  // a slow device: each data write takes this long
    int statusReads = 0;   // status reads answered
    int interrupts = 0;    // the next calls that a signal interrupts (EINTR)
    std::vector<uint8_t> controls;  // control writes
};

// True (and one fewer left) while calls are to be interrupted.
inline bool FakeInterrupted(FakeDevice* d)
{
    if (d->interrupts <= 0)
        return false;
    --d->interrupts;
    return true;
}

inline int FakeWrite(void* context, uint8_t value)
{
    FakeDevice* d = static_cast<FakeDevice*>(context);
    if (d->writeDelayUs > 0)
        usleep(static_cast<useconds_t>(d->writeDelayUs));
    std::lock_guard<std::mutex> g(d->lock);
    if (FakeInterrupted(d))
        return EINTR;
    if (static_cast<int>(d->written.size()) == d->failWriteAt)
        return d->writeError;
    d->written.push_back(value);
    return 0;
}

inline int FakeStatus(void* context, uint8_t* value)
{
    FakeDevice* d = static_cast<FakeDevice*>(context);
    std::lock_guard<std::mutex> g(d->lock);
    if (FakeInterrupted(d))
        return EINTR;
    if (d->statusError)
        return d->statusError;
    ++d->statusReads;
    *value = d->status;
    return 0;
}

inline int FakeControl(void* context, uint8_t value)
{
    FakeDevice* d = static_cast<FakeDevice*>(context);
    std::lock_guard<std::mutex> g(d->lock);
    d->controls.push_back(value);
    return 0;
}

inline BridgeDevice FakeBridgeDevice(FakeDevice* d)
{
    return BridgeDevice{ d, FakeWrite, FakeStatus, "/dev/fauxport", FakeControl };
}

// The library's side of a read: the count and the clock it stamps.
inline void StampRead(PortState* s)
{
    PortStateNoteRead(s, PortNativeTicks());
}

// A clean state in private memory, set for the ppdev backend.
inline PortState* NewState()
{
    PortState* s = static_cast<PortState*>(calloc(1, sizeof(PortState)));
    PortStateInit(s, PORTSTATE_NATIVE_FREQUENCY, 0);
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, "/dev/fauxport");
    return s;
}

#endif
