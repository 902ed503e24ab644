// A real port reached from a native program as the test bench reaches it
// under Wine: writes journaled in a shared state, carried to the ppdev device
// by the native helper, the status register as the helper last read it (see
// the bridge in portstate.h). The state is a file of the self-test's own,
// beside the session's, so that a running program neither disturbs the test
// nor is disturbed by it; the helper is started for the test and stopped
// after it.
#ifndef BRIDGEPORT_H
#define BRIDGEPORT_H

#include <stdint.h>
#include <sys/types.h>
#include <string>
#include "session_native.h"

constexpr char SELFTEST_STATE_FILE[] = "selftest.v2";  // beside PORTSTATE_FILE
constexpr int BRIDGE_READY_MS = 5000;   // the helper claims the port within its 2 s, on a loaded machine
constexpr int BRIDGE_ANSWER_MS = 2000;  // a write applied and a status read after it
constexpr int BRIDGE_STOP_MS = 3000;    // a helper leaves within this once asked or alone
constexpr int BRIDGE_SETTLE_US = 50;    // the lines settle this long before a read counts

struct BridgePort {
    NativeSession session;
    pid_t helper;       // the helper started for the test, -1 if none
    int helperOutput;   // read end of the helper's standard error, -1 if none
    int64_t lastWrite;  // journal sequence number of the last write, -1 before any
};

// Starts the helper at helperPath on `device` (an absolute ppdev path) and
// waits until it holds the port. False with the helper's own message when
// the device cannot be used, or why the helper could not serve.
bool OpenBridgePort(BridgePort* p, const char* device, const char* helperPath, std::string* error);

// Drives the data lines.
bool BridgePortWrite(BridgePort* p, uint8_t data, std::string* error);

// The status register as read after the last write reached the lines.
bool BridgePortRead(BridgePort* p, int32_t* status, std::string* error);

// Waits for the last write to reach the lines, stops the helper, leaves.
void CloseBridgePort(BridgePort* p);

#endif
