// What the library's two entries need of whatever reaches the port. The
// simulated port is the only backend; a hardware one would supply the same.
#ifndef BACKEND_H
#define BACKEND_H

#include <stdint.h>

struct PortBackend {
    int16_t (*read)(uint16_t port);
    void (*write)(uint16_t port, uint16_t value);
};

const PortBackend* SelectBackend();

#endif
