#!/bin/sh
# Prints i686 if this machine can run Wine's 32-bit loader, x86_64 otherwise
# (some sandboxed kernels offer no 32-bit code segment at all).
# TRAVEK_WINE_ARCH=x86_64 forces the 64-bit build, to try that path anywhere.
if [ -n "$TRAVEK_WINE_ARCH" ]; then
    echo "$TRAVEK_WINE_ARCH"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo i686
else
    echo x86_64
fi
