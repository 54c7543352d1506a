#!/usr/bin/env bash
# Makes the project's Wine prefix: Tahoma for "MS Shell Dlg" (6 x 13 dialog units) and
# unmanaged windows, since the virtual display has no window manager.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: wine_prefix.sh PREFIX}")
[ -f "$prefix/.mervastx-ready" ] && exit 0

rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
(unset DISPLAY; wineboot -i >/dev/null 2>&1)
mkdir -p "$prefix/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$prefix/drive_c/windows/Fonts/"
reg=$(mktemp --suffix=.reg)
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' > "$reg"
(unset DISPLAY; wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1)
wineserver -w
rm -f "$reg"
touch "$prefix/.mervastx-ready"
