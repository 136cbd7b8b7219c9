#!/bin/sh
# start_wine_prefix.sh ARCH LOADER PREFIX: makes the tests' Wine prefix and starts the one server
# that serves every test, for the Windows build of ARCH (i686 or x86_64) run by LOADER.
# A kernel whose 32-bit emulation is off runs no 32-bit Wine (its loader exits 126): the 32-bit
# build's tests then fail here, saying why, rather than pass untried. scripts/test.sh takes the
# x86-64 build on such a kernel.
arch=$1 loader=$2
export WINEPREFIX="$3" WINEDEBUG=-all
if [ "$arch" = i686 ]; then
  /usr/lib/wine/wine --version >/dev/null 2>&1
  if [ $? -eq 126 ]; then
    echo "this kernel runs no 32-bit programs, so the 32-bit Windows build cannot be tested" \
      "under Wine here; scripts/test.sh tests a 64-bit build under wine64 instead" >&2
    exit 1
  fi
else
  export WINELOADER="$loader"
fi
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null
wineserver -p >/dev/null 2>&1 && "$loader" wineboot -i >/dev/null 2>&1
