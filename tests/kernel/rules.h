// The ppdev rules the helper relies on, as one suite run against two devices:
// the kernel's own (drivers/char/ppdev.c, in tests/kernel's virtual machine)
// and the emulated one (tests/emuport, under FUSE). Each case runs in a child
// process of its own, under a time limit, and prints one line:
//   PASS ppdev_NAME   or   FAIL ppdev_NAME: what differed   or   SKIP ppdev_NAME: why
// What the suite cannot do with open and ioctl alone it asks of a hook, a
// command given on the command line and run as `HOOK VERB [ARG]`:
//   printer on|off   the printer driver (lp) registered on the port, or not
//   group            the device file 0660, owner root, group lp (7), as udev sets it
//   noport           print the path of a device node that has no port behind it
//   remove           the driver removes the port (the device file goes away)
//   restore          the port back after `remove`
// A hook that exits with RULES_HOOK_UNSUPPORTED makes the case a SKIP.
#ifndef TESTS_KERNEL_RULES_H
#define TESTS_KERNEL_RULES_H

#include <string>

constexpr int RULES_HOOK_UNSUPPORTED = 77;
constexpr unsigned RULES_LP_GID = 7;       // Debian's lp group
constexpr unsigned RULES_NOBODY = 65534;   // a user and group outside lp
constexpr int RULES_CASE_LIMIT_S = 20;     // a case that takes longer has hung

// What a case needs: the device and the hook.
struct RulesTarget {
    std::string device;
    std::string hook;
};

// A case: empty when it held, else what differed. `skip` set when it could not run.
struct RulesOutcome {
    std::string failure;
    std::string skip;
};

typedef RulesOutcome (*RulesCase)(const RulesTarget& t);

// Runs the hook; its exit code (RULES_HOOK_UNSUPPORTED when it cannot), its
// output in *out when given.
int RunHook(const RulesTarget& t, const std::string& verb, std::string* out = nullptr);

// The cases, by name, in the suite's order (rules_cases.cpp, rules_claims.cpp).
struct RulesEntry {
    const char* name;
    RulesCase run;
};
extern const RulesEntry RULES_CASES[];
extern const int RULES_CASE_COUNT;

#endif
