#!/usr/bin/env bash
# Builds mervasTX, starts the local paging gateway and runs the program under Wine.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
tools/setup.sh
jobs=$(nproc)

cmake -S . -B build/native -DMERVASTX_WERROR=ON >/dev/null
cmake --build build/native -j"$jobs" --target paging_gateway
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DMERVASTX_WERROR=ON >/dev/null
cmake --build build/windows -j"$jobs" --target mervasTX

export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all
tools/wine_prefix.sh "$WINEPREFIX"

# The carriers' hosts default to localhost, where this stand-in for their paging servers listens.
gateway_log="$root/build/paging_gateway.log"
build/native/paging_gateway/paging_gateway >"$gateway_log" 2>&1 &
gateway=$!
trap 'kill $gateway 2>/dev/null || true' EXIT
sleep 0.3
if ! kill -0 $gateway 2>/dev/null; then
  echo "run: the local paging gateway did not start:"; cat "$gateway_log"
  echo "run: messages will report \"Connect failed!\" unless something else listens on 127.0.0.1:80."
else
  echo "run: local paging gateway on 127.0.0.1:80; pages it receives go to $gateway_log"
fi

# The program keeps mervasTX.ini in its working folder.
workdir="$root/build/run"
mkdir -p "$workdir"
exe="$root/build/windows/app/mervasTX.exe"

if [ -n "${DISPLAY:-}" ]; then
  (cd "$workdir" && wine "$exe")
  echo "run: settings saved in $workdir/mervasTX.ini"
else
  echo "run: no display; running a short scripted session in a virtual display"
  tools/in_display.sh tools/demo.sh "$exe" "$workdir" "$root/build/screenshots"
  echo "run: pages received by the gateway:"; cat "$gateway_log"
fi
