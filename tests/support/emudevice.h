// The emulated parallel port seen from a Windows test under Wine: its device
// path for TRAVEK_PORT, its control file and its record of data writes,
// reached through Z:\ paths. Empty results when the test runs outside the
// emulated port's fixture.
#ifndef EMUDEVICE_H
#define EMUDEVICE_H

#include <stdint.h>
#include <string>
#include <vector>

struct EmuWrite {
    int value;      // 0-255, as the data register got it
    int64_t ticks;  // QueryPerformanceCounter's clock
};

// The mount's Linux path from the fixture, or "" when not run inside it.
std::string EmuMount();
// The Linux path of device parportN, as TRAVEK_PORT takes it.
std::string EmuDevice(int n = 0);
// The Windows path (Z:\...) of a Linux path.
std::string WindowsPathOf(const std::string& linuxPath);
// Sends commands to device N's control file; false if refused.
bool EmuControl(const std::string& commands, int n = 0);
// A value of the device's state ("fault", "claimed", "opens" ...), "" if absent.
std::string EmuState(const std::string& key, int n = 0);
// The record of data writes, from write number `from` on.
std::vector<EmuWrite> EmuRecord(size_t from = 0, int n = 0);
std::vector<int> EmuValues(size_t from = 0, int n = 0);

#endif
