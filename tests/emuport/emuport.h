// The emulated parallel port: a FUSE file system whose device files answer
// the ppdev ioctls, for tests without hardware. What a test needs to drive it,
// from a native program or from Windows code through a Z:\ path. Portable: no
// system header.
//
// Files at the mount, for each device NAME (parport0, parport1 ...):
//   NAME          the device: open it and issue ppdev ioctls, as /dev/parportN
//   NAME.ctl      write commands, one a line; read the device's state
//   NAME.writes   every data write since the start or the last `clear`, one a
//                 line of EMUPORT_RECORD_LINE bytes: "VVV TTTTTTTTTTTTTTTTTTTT\n",
//                 the value (0-255) and CLOCK_MONOTONIC_RAW in 100 ns units
//                 (the clock of QueryPerformanceCounter under Wine), right-aligned
//
// Commands (a write to NAME.ctl fails with EINVAL on a line it does not know,
// and no line of that write is applied):
//   status N         the raw status pins PPRSTATUS returns (0-255, decimal or 0x..)
//   busy             another program holds the port: PPCLAIM waits
//   enotty           not a parallel port: every ioctl fails with ENOTTY
//   eio              every ioctl fails with EIO
//   vanish           the device file disappears; open handles get ENODEV for good
//   normal           back to a healthy device (a vanished one reappears)
//   printer on|off   the printer driver holds the port: an exclusive claim fails (ENXIO)
//   mode OCTAL       the device file's permission bits (checked for every caller, root too)
//   claimwait MS     how long PPCLAIM waits for a held port before EBUSY
//   clear            empties the record of data writes
//   loopback ...     a loopback plug: the status pins follow the data lines
//                    (on, off, stuck W high|low, cross W V, invert W: see plug.h)
//
// State text read from NAME.ctl: "key value" lines, keys as in
// EMUPORT_STATE_KEYS.
#ifndef EMUPORT_H
#define EMUPORT_H

constexpr int EMUPORT_RECORD_LINE = 25;         // bytes of one line of NAME.writes
constexpr int EMUPORT_DEFAULT_CLAIM_WAIT_MS = 3000;  // PPCLAIM's wait for a held port
constexpr int EMUPORT_MAX_CLAIM_WAIT_MS = 10000;     // no handler ever waits longer
constexpr int EMUPORT_MAX_DEVICES = 8;
constexpr int EMUPORT_DEFAULT_STATUS = 0x7F;     // all inputs released
constexpr int EMUPORT_DEFAULT_MODE = 0660;       // as /dev/parportN: owner and the lp group
constexpr int EMUPORT_SKIP = 77;                 // exit code of the fixture without FUSE
constexpr char EMUPORT_CTL_SUFFIX[] = ".ctl";
constexpr char EMUPORT_WRITES_SUFFIX[] = ".writes";
constexpr char EMUPORT_ENV[] = "TRAVEK_EMUPORT";  // the mount folder, set by the fixture
constexpr char EMUPORT_STATE_KEYS[] =
    "device fault status data control claimed opens writes ioctls printer mode claimwait loopback";

#endif
