#!/bin/sh
# Prints i686 if this machine runs 32-bit code and has Wine's 32-bit loader,
# x86_64 otherwise. TRAVEK_WINE_ARCH=x86_64 forces the 64-bit build, to try
# that path anywhere.
. "$(dirname "$0")/cpu32.sh"
if [ -n "$TRAVEK_WINE_ARCH" ]; then
    echo "$TRAVEK_WINE_ARCH"
elif runs_32bit_code && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo i686
else
    echo x86_64
fi
