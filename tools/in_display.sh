#!/usr/bin/env bash
# Runs a command in a virtual X display with the project's Wine prefix and one wineserver kept alive.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}" WINEDEBUG=-all
"$root/tools/wine_prefix.sh" "$WINEPREFIX"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  sh -c 'wineserver -p; wine cmd /c exit >/dev/null 2>&1; "$@"; rc=$?; wineserver -k; exit $rc' sh "$@"
