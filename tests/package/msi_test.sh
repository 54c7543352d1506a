#!/usr/bin/env bash
# The two Windows Installer packages as an administrator deploys them, under Wine's msiexec in a prefix of its
# own: their tables read with msiinfo (what Windows would do where Wine differs), a silent install of both, a
# page from the installed program relayed by the installed service to an SNPP stand-in, an upgrade to a second
# build with a higher version, an uninstall, and what stays.
# Usage: msi_test.sh PROGRAM_MSI GATEWAY_MSI PACKAGE_PROBE_EXE STAGE INSTALLER_DIR   (inside tools/in_display.sh)
set -euo pipefail
program_msi=$1 gateway_msi=$2 probe=$3 stage=$4 installer=$5
here=$(cd "$(dirname "$0")" && pwd)
snpp_address=127.77.18.41 snpp_port=4444
relay=snpp://$snpp_address:$snpp_port

fail() { echo "msi test: $*"; exit 1; }
skip() { echo "msi test: $*; skipped"; exit 77; }
for msi in "$program_msi" "$gateway_msi"; do [ -f "$msi" ] || fail "no $msi; build the installers target first"; done
python3 -c 'import socket; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80))' 2>/dev/null || skip "127.0.0.1:80 is taken (another run?)"

# A table as msiinfo exports it, without the two header lines.
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
has_row() { table "$1" "$2" | grep -qxF -- "$3" || fail "$(basename "$1")'s $2 table lacks: $3"; }

# The per-machine package: where it installs, the service's controls, its actions and their guards.
g=$gateway_msi
has_row "$g" Property $'ALLUSERS\t1'
has_row "$g" Property $'SecureCustomProperties\tWIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;RELAY'
has_row "$g" Directory $'INSTALLDIR\tProgramFilesFolder\tmervasTX gateway'
# Start when installed, stop on install and uninstall, removed on uninstall (0x1 | 0x2 | 0x20 | 0x80), waited for.
has_row "$g" ServiceControl $'GatewayService\tmervasTXGateway\t163\t\t1\tGateway'
has_row "$g" CustomAction $'InstallServiceFromRelay\t3090\tGatewayExe\t--install-service --no-pause --relay "[RELAY]"\t'
has_row "$g" CustomAction $'InstallServiceKeepingSettings\t3090\tGatewayExe\t--install-service --no-pause\t'
has_row "$g" CustomAction $'RollBackService\t3410\tGatewayExe\t--uninstall-service --no-pause\t'
has_row "$g" CustomAction $'UninstallService\t3154\tGatewayExe\t--uninstall-service --no-pause\t'
# Windows sets UPGRADINGPRODUCTCODE when an upgrade removes the older version, which then keeps the logins;
# Wine does not (so this guard is checked here, in the table).
has_row "$g" InstallExecuteSequence $'UninstallService\tREMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE\t1850'
has_row "$g" InstallExecuteSequence $'RemoveExistingProducts\t\t1450'
has_row "$g" File $'StatusLink\tStatusEntry\tPaging gateway status.url\t49\t\t\t512\t4'
has_row "$g" Component $'StatusEntry\t{B5A10504-0257-4ED1-BD92-FC2D7E7E83E1}\tProgramMenuFolder\t0\t\tStatusLink'
# The per-user package: no ALLUSERS, no elevation (word count 10: compressed, no UAC prompt), its folder.
p=$program_msi
table "$p" Property | grep -q '^ALLUSERS' && fail "the program's package sets ALLUSERS"
msiinfo suminfo "$p" | grep -qx 'Source: 10 (a)' || fail "the program's package asks for elevation: $(msiinfo suminfo "$p")"
has_row "$p" Directory $'UserPrograms\tLocalAppDataFolder\tPrograms'
has_row "$p" Directory $'INSTALLDIR\tUserPrograms\tmervasTX'
has_row "$p" Shortcut $'ProgramShortcut\tProgramMenuFolder\tmervasTX\tStartMenu\t[INSTALLDIR]mervasTX.exe\t\tSend a text message to a pager or phone\t\t\t\t\tINSTALLDIR\t\t\t\t'
table "$p" File | grep -q ini && fail "the program's package holds an .ini"

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
program='' standin=''
finish() {
  local rc=$?
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$standin" ] && kill "$standin" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
    import -window root "$work/failure.png" 2>/dev/null || true
    cp -r "$WINEPREFIX"/drive_c/ProgramData/mervasTX "$work/data" 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    echo "msi test failed; the service's folder, the install logs and a screenshot are in $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

"$here/../../tools/wine_prefix.sh" "$WINEPREFIX"
[ -f "$WINEPREFIX/drive_c/windows/system32/sc.exe" ] || skip "this Wine has no service manager"
# An install started while the prefix is still being set up rolls back.
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1

# The second build, one version up, from the same stage and package sources.
for name in program gateway; do
  "$installer/build_msi.sh" "$installer/$name.wxs" "$stage" 0.7.1 "$work/$name-0.7.1.msi" >/dev/null ||
    fail "cannot build the $name package at 0.7.1"
done

msiexec() {
  local rc=0
  wine msiexec "$@" /qn /l*v "$(winepath -w "$work")\\msiexec-$((++installs)).log" >/dev/null 2>&1 || rc=$?
  return $((rc % 256))  # Wine gives msiexec's exit code modulo 256
}
installs=0
windows() { winepath -w "$1"; }
service_state() { wine sc query mervasTXGateway 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }
wait_state() {
  for _ in $(seq 100); do [ "$(service_state)" = "$1" ] && return 0; sleep 0.1; done
  fail "the service is \"$(service_state)\", not $1"
}
pages="$work/pages.txt"
start_standin() {
  python3 "$here/snpp_standin.py" $snpp_address $snpp_port "$pages" >"$work/standin.log" 2>&1 &
  standin=$!
  for _ in $(seq 50); do grep -q listening "$work/standin.log" && return; sleep 0.1; done
  fail "the SNPP stand-in did not start: $(cat "$work/standin.log")"
}
stop_standin() { kill "$standin"; wait "$standin" 2>/dev/null || true; standin=''; }
wait_page() {
  for _ in $(seq 150); do grep -qxF -- "$1" "$pages" 2>/dev/null && return 0; sleep 0.1; done
  fail "the stand-in did not get \"$1\"; it has: $(cat "$pages" 2>/dev/null); the log: $(cat "$log" 2>/dev/null)"
}
probe() { wine "$probe" "$@"; }
send() {
  probe send mervasTX "$1" "$2" 3 Pat 5550001111
  probe box "Message Status"
}
uninstall_entry() {  # ROOT NAME: the Apps & features entry of the product called NAME
  wine reg query "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '/^HKEY/ { key = $0 } $1 == "DisplayName" && substr($0, index($0, "REG_SZ") + 10) == name { print key }'
}
display_version() {
  wine reg query "$1" /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ { print $3 }'
}

c=$WINEPREFIX/drive_c
app="$c/Program Files/mervasTX gateway"
data="$c/ProgramData/mervasTX"
config="$data/paging_gateway.toml" log="$data/paging_gateway.log"
user_programs=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')")/Programs/mervasTX
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% | tr -d '\r')")

# The gateway, silently, with the relay as a property.
start_standin
msiexec /i "$(windows "$gateway_msi")" RELAY=$relay || fail "the gateway's install exited $?"
for file in paging_gateway.exe readme.txt paging_gateway.example.toml; do
  [ -f "$app/$file" ] || fail "no $file in Program Files\\mervasTX gateway"
done
tr -d '\r' <"$config" | grep -qxE "url = [\"']$relay[\"']" || fail "the service's settings lack the relay: $(cat "$config")"
image=$(wine reg query 'HKLM\System\CurrentControlSet\Services\mervasTXGateway' /v ImagePath | tr -d '\r')
expected='"C:\Program Files\mervasTX gateway\paging_gateway.exe" --service --config C:\ProgramData\mervasTX\paging_gateway.toml'
[[ "$image" == *"REG_SZ    $expected" ]] || fail "the service's command line is: $image"
wait_state RUNNING
gateway_entry=$(uninstall_entry HKLM 'mervasTX paging gateway')
[ -n "$gateway_entry" ] && [ "$(display_version "$gateway_entry")" = 0.7.0 ] || fail "no Apps & features entry 0.7.0"
# Wine gives a per-machine package the user's Start menu; Windows the computer's (see the table check above).
status_link=$(find "$c" -name 'Paging gateway status.url' | head -1)
[ -n "$status_link" ] || fail "no Start menu entry \"Paging gateway status\""
grep -q 'URL=http://127.0.0.1/status' "$status_link" || fail "the status entry holds: $(cat "$status_link")"

# The program, silently, per user.
msiexec /i "$(windows "$program_msi")" || fail "the program's install exited $?"
[ -f "$user_programs/mervasTX.exe" ] && [ -f "$user_programs/readme.txt" ] || fail "nothing in $user_programs"
[ -f "$appdata/Microsoft/Windows/Start Menu/Programs/mervasTX.lnk" ] || fail "no Start menu entry mervasTX"
# Windows keeps a per-user product's entry under HKCU; Wine 8 writes every product's under HKLM.
program_entry=$(uninstall_entry HKCU mervasTX; uninstall_entry HKLM mervasTX)
[ -n "$program_entry" ] || fail "no Apps & features entry for mervasTX"
echo "msi test: the program's Apps & features entry is $program_entry"

# A page from the installed program, started in its folder as its shortcut starts it, through the service.
(cd "$user_programs" && exec wine mervasTX.exe) &
program=$!
probe box "Welcome!" >/dev/null || fail "no welcome box"
status=$(send "hello through the installers" 5551234567) || fail "no status box"
[ "$status" = "Message sent!" ] || fail "a page to the installed service got \"$status\""
wait_page '5551234567: hello through the installers (from Pat, callback 5550001111)'
curl -s --max-time 5 http://127.0.0.1/status | grep -q 'hello through the installers' ||
  fail "the status page does not show the page"

# A page waiting in the spool while the network is away stays over the upgrade.
stop_standin
status=$(send "kept over the upgrade" 5552223333) || fail "no status box"
[ "$status" = "Message sent!" ] || fail "a page for the spool got \"$status\""
probe close mervasTX
timeout 20 tail --pid="$program" -f /dev/null || fail "mervasTX did not end"
program=''
[ -f "$user_programs/mervasTX.ini" ] || fail "mervasTX.ini was not written beside the program"
cp "$config" "$work/config-before.toml"

# Upgrades, silently, without properties: the settings, the spool and the book stay.
msiexec /i "$(windows "$work/gateway-0.7.1.msi")" || fail "the gateway's upgrade exited $?"
msiexec /i "$(windows "$work/program-0.7.1.msi")" || fail "the program's upgrade exited $?"
cmp -s "$config" "$work/config-before.toml" || fail "the upgrade changed the settings: $(cat "$config")"
[ "$(uninstall_entry HKLM 'mervasTX paging gateway' | wc -l)" -eq 1 ] || fail "two gateway products after the upgrade"
[ "$(display_version "$(uninstall_entry HKLM 'mervasTX paging gateway')")" = 0.7.1 ] || fail "the gateway is not 0.7.1"
[ "$(display_version "$(uninstall_entry HKCU mervasTX; uninstall_entry HKLM mervasTX)")" = 0.7.1 ] ||
  fail "the program is not 0.7.1"
grep -q 'Pat:5550001111:' "$user_programs/mervasTX.ini" || fail "the upgrade lost mervasTX.ini"
wait_state RUNNING
start_standin
wait_page '5552223333: kept over the upgrade (from Pat, callback 5550001111)'

# Uninstalls: the service and its logins go (an older install's paging_gateway.env too); spool, ledger, log
# and the book stay.
printf 'PAGING_GATEWAY_WCTP_SECURITY_CODE=older-code\r\n' >"$data/paging_gateway.env"
printf 'wctp-security-code = "the-code"\r\n' >>"$config"
msiexec /x "$(windows "$work/gateway-0.7.1.msi")" || fail "the gateway's uninstall exited $?"
wine sc query mervasTXGateway >/dev/null 2>&1 && fail "the service is still there after the uninstall"
[ -e "$app/paging_gateway.exe" ] && fail "paging_gateway.exe is still there"
[ -e "$data/paging_gateway.env" ] && fail "the uninstall left paging_gateway.env"
grep -q 'the-code' "$config" && fail "the uninstall left the security code in the settings"
grep -qF "$relay" "$config" || fail "the uninstall lost the settings: $(cat "$config")"
[ -f "$log" ] && [ -f "$data/spool/ledger.txt" ] || fail "the uninstall took the log or the ledger: $(ls -R "$data")"
grep -q 'kept over the upgrade' "$data/spool/ledger.txt" || fail "the ledger lost its pages"
[ -z "$(uninstall_entry HKLM 'mervasTX paging gateway')" ] || fail "the gateway is still in Apps & features"
msiexec /x "$(windows "$work/program-0.7.1.msi")" || fail "the program's uninstall exited $?"
[ -e "$user_programs/mervasTX.exe" ] && fail "mervasTX.exe is still there"
[ -e "$appdata/Microsoft/Windows/Start Menu/Programs/mervasTX.lnk" ] && fail "the Start menu entry is still there"
[ -f "$user_programs/mervasTX.ini" ] || fail "the uninstall took mervasTX.ini"
echo "msi test: tables, silent installs, a page relayed by the installed service, upgrades keeping settings," \
  "spool and book, uninstalls removing the service and its logins and keeping spool, ledger, log and book"
