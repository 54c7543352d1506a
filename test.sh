#!/usr/bin/env bash
# Builds the native and the Windows builds, runs every test and leaves the release zip and the two .msi packages
# in build/windows and the gateway's .deb in build/native;
# exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
jobs=$(nproc)

echo "== native build: portable core under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/native -DMERVASTX_WERROR=ON >/dev/null
cmake --build build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs"

if [ -x tests/fuzz/run_fuzz.sh ]; then
  echo "== fuzzing the settings file, the request path, the paging gateway's request reader and WCTP answers, 12 s each"
  tests/fuzz/run_fuzz.sh build/fuzz 12
fi

echo "== Windows build: everything, tests under Wine in a virtual display"
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DMERVASTX_WERROR=ON >/dev/null
cmake --build build/windows -j"$jobs"
tools/in_display.sh ctest --test-dir build/windows --output-on-failure -j"$jobs"

echo "== release packages (the Windows build makes the zip and both installers, the native build the .deb)"
unzip -l build/windows/mervasTX-*-win32.zip
ls -l build/windows/mervasTX-*.msi build/native/paging-gateway_*_amd64.deb
