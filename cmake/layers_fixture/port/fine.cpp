// The port layer including nothing above it.
#include <windows.h>
