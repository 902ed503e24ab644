// The test's side of an emulated device: text commands that set the status
// pins and inject faults, the state as text, and the record of data writes.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sstream>

#include "device.h"
#include "emuport.h"

namespace {

constexpr unsigned MODE_BITS = 0777;

struct Command {
    std::string verb;
    long value;
    LoopbackCommand loop;  // verb "loopback"
};

const char* FaultName(DeviceFault f)
{
    switch (f) {
    case FAULT_BUSY: return "busy";
    case FAULT_ENOTTY: return "enotty";
    case FAULT_EIO: return "eio";
    case FAULT_VANISHED: return "vanish";
    case FAULT_REMOVED: return "remove";
    case FAULT_NOPORT: return "noport";
    default: return "normal";
    }
}

// A whole number in [low, high] in the given base (0: decimal or 0x..).
bool ParseNumber(const std::string& text, int base, long low, long high, long* out)
{
    if (text.empty() || text.size() > 12)
        return false;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, base);
    if (*end != '\0' || v < low || v > high)
        return false;
    *out = v;
    return true;
}

bool ParseLine(const std::string& line, Command* c)
{
    std::istringstream in(line);
    std::string arg, extra;
    in >> c->verb >> arg >> extra;
    c->value = 0;
    if (c->verb == "loopback")
        return ParseLoopbackCommand(line, &c->loop);
    if (!extra.empty())
        return false;
    if (c->verb == "busy" || c->verb == "enotty" || c->verb == "eio" || c->verb == "vanish" ||
        c->verb == "remove" || c->verb == "noport" || c->verb == "normal" || c->verb == "clear")
        return arg.empty();
    if (c->verb == "status")
        return ParseNumber(arg, 0, 0, 255, &c->value);
    if (c->verb == "mode")
        return ParseNumber(arg, 8, 0, MODE_BITS, &c->value);
    if (c->verb == "claimwait")
        return ParseNumber(arg, 10, 0, EMUPORT_MAX_CLAIM_WAIT_MS, &c->value);
    if (c->verb == "printer" && (arg == "on" || arg == "off")) {
        c->value = arg == "on";
        return true;
    }
    return false;
}

void Apply(Device& d, const Command& c)
{
    if (c.verb == "status") d.status = static_cast<uint8_t>(c.value);
    else if (c.verb == "busy") SetFault(d, FAULT_BUSY);
    else if (c.verb == "enotty") SetFault(d, FAULT_ENOTTY);
    else if (c.verb == "eio") SetFault(d, FAULT_EIO);
    else if (c.verb == "vanish") SetFault(d, FAULT_VANISHED);
    else if (c.verb == "remove") SetFault(d, FAULT_REMOVED);
    else if (c.verb == "noport") SetFault(d, FAULT_NOPORT);
    else if (c.verb == "normal") SetFault(d, FAULT_NORMAL);
    else if (c.verb == "printer") d.printer = c.value != 0;
    else if (c.verb == "mode") d.fileMode = static_cast<unsigned>(c.value);
    else if (c.verb == "claimwait") d.claimWaitMs = static_cast<int>(c.value);
    else if (c.verb == "clear") d.record.clear();
    else if (c.verb == "loopback") ApplyLoopbackCommand(&d.plug, c.loop);
}

}  // namespace

int ControlDevice(int device, const std::string& text)
{
    std::vector<Command> commands;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        Command c;
        if (!ParseLine(line, &c))
            return -EINVAL;
        commands.push_back(c);
    }
    std::lock_guard<std::mutex> lock(DevicesLock);
    for (const Command& c : commands)
        Apply(Devices[device], c);
    return 0;
}

void SetFileMode(int device, unsigned mode)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    Devices[device].fileMode = mode & MODE_BITS;
}

std::string DeviceStateText(int device)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    const Device& d = Devices[device];
    char text[512];
    snprintf(text, sizeof text,
             "device %s\nfault %s\nstatus %u\ndata %u\ncontrol %u\nclaimed %d\nopens %d\n"
             "writes %zu\nioctls %llu\nprinter %s\nmode %03o\nclaimwait %d\nloopback %s\nwaiters %zu\n"
             "requeued %llu\n",
             d.name.c_str(), FaultName(d.fault), d.status, d.data, d.control, d.holder >= 0 ? 1 : 0,
             d.opens, d.record.size(), static_cast<unsigned long long>(d.ioctls),
             d.printer ? "on" : "off", d.fileMode, d.claimWaitMs, d.plug.on ? "on" : "off", d.waiters.size(),
             static_cast<unsigned long long>(d.requeued));
    return text;
}

int64_t RecordTextSize(int device)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    return int64_t(Devices[device].record.size()) * EMUPORT_RECORD_LINE;
}

std::string RecordText(int device, int64_t offset, size_t size)
{
    std::lock_guard<std::mutex> lock(DevicesLock);
    const std::vector<WriteRecord>& record = Devices[device].record;
    std::string out;
    if (offset < 0)
        return out;
    size_t first = static_cast<size_t>(offset / EMUPORT_RECORD_LINE);
    size_t skip = static_cast<size_t>(offset % EMUPORT_RECORD_LINE);
    char line[EMUPORT_RECORD_LINE + 1];
    for (size_t i = first; i < record.size() && out.size() < size + skip; i++) {
        snprintf(line, sizeof line, "%3u %20lld\n", record[i].value,
                 static_cast<long long>(record[i].ticks));
        out.append(line, EMUPORT_RECORD_LINE);
    }
    out.erase(0, skip < out.size() ? skip : out.size());
    if (out.size() > size)
        out.resize(size);
    return out;
}
