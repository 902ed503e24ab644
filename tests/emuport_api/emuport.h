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
//   busy             another program holds the port: PPCLAIM waits until `normal`
//   remove           the driver removes the port, as unloading or unplugging it does:
//                    the file disappears, open handles still answer but reach nothing
//                    (writes go nowhere, reads give 0)
//   noport           a device node with no port behind it: PPCLAIM fails with ENXIO
//   normal           back to a healthy device (a removed one comes back for new opens)
//   printer on|off   the printer driver is registered on the port: an exclusive claim fails (ENXIO)
//   mode OCTAL       the device file's permission bits (checked for every caller, root too)
//   clear            empties the record of data writes
// Injected faults that the kernel's driver never gives, to test the helper's
// handling of any error:
//   enotty           every ioctl fails with ENOTTY
//   eio              every ioctl fails with EIO
//   vanish           the device file disappears; open handles get ENODEV for good
//   claimwait MS     PPCLAIM gives up with EBUSY after MS on a held port (0: it waits
//                    as long as the port is held, as the kernel's; the default)
// A test fixture:
//   loopback ...     a loopback plug: the status pins follow the data lines
//                    (on, off, stuck W high|low, cross W V, invert W: see plug.h)
//
// State text read from NAME.ctl: "key value" lines, keys as in
// EMUPORT_STATE_KEYS. `waiters` counts the handles on the port's wait list;
// `requeued` the claims retried on a handle still on it, which the kernel
// would queue twice, corrupting the list (tests expect 0).
#ifndef EMUPORT_H
#define EMUPORT_H

constexpr int EMUPORT_RECORD_LINE = 25;         // bytes of one line of NAME.writes
constexpr int EMUPORT_DEFAULT_CLAIM_WAIT_MS = 0;     // PPCLAIM waits as long as the port is held
constexpr int EMUPORT_MAX_CLAIM_WAIT_MS = 10000;     // the longest `claimwait` bound
constexpr int EMUPORT_MAX_DEVICES = 8;
constexpr int EMUPORT_DEFAULT_STATUS = 0x7F;     // all inputs released
constexpr int EMUPORT_DEFAULT_MODE = 0660;       // as /dev/parportN: owner and the lp group
constexpr int EMUPORT_SKIP = 77;                 // exit code of the fixture without FUSE
constexpr char EMUPORT_CTL_SUFFIX[] = ".ctl";
constexpr char EMUPORT_WRITES_SUFFIX[] = ".writes";
constexpr char EMUPORT_ENV[] = "TRAVEK_EMUPORT";  // the mount folder, set by the fixture
constexpr char EMUPORT_STATE_KEYS[] =
    "device fault status data control claimed opens writes ioctls printer mode claimwait loopback waiters requeued";

#endif
