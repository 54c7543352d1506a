#!/usr/bin/env bash
# The zip's paging gateway as a Windows service, under Wine's service manager in a prefix of its own (a
# service left installed would start with every later Wine session there and hold port 80): installed,
# started, a page from mervasTX.exe relayed to an SNPP stand-in, a page kept in the spool across a stop,
# "Connect failed!" while stopped, started again, removed with its logins.
# Usage: service_test.sh ZIP PACKAGE_PROBE_EXE   (inside tools/in_display.sh)
set -euo pipefail
zip=$1 probe=$2
here=$(cd "$(dirname "$0")" && pwd)
snpp_address=127.77.18.1 snpp_port=4444
relay=snpp://$snpp_address:$snpp_port

fail() { echo "service test: $*"; exit 1; }
skip() { echo "service test: $*; skipped"; exit 77; }
[ -f "$zip" ] || fail "no $zip; build the release_zip target first"
python3 -c 'import socket; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80))' 2>/dev/null || skip "127.0.0.1:80 is taken (another run?)"

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
program='' standin='' holder=''
finish() {
  local rc=$?
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$holder" ] && kill "$holder" 2>/dev/null || true
  [ -n "$standin" ] && kill "$standin" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
    import -window root "$work/failure.png" 2>/dev/null || true
    cp "$WINEPREFIX"/drive_c/ProgramData/mervasTX/paging_gateway.log* "$work/" 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    echo "service test failed; the service's log, the stand-in's pages and a screenshot are in $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

"$here/../../tools/wine_prefix.sh" "$WINEPREFIX"
[ -f "$WINEPREFIX/drive_c/windows/system32/sc.exe" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/services.exe" ] ||
  skip "this Wine has no service manager"
# The session's own programs keep the output they were started with: not a pipe that $(...) would wait on.
# Wine keeps no event log, but prints the error and warning entries on the session's standard error: kept
# in a file.
wineserver -p
WINEDEBUG=-all,err+eventlog,warn+eventlog wine cmd /c exit >/dev/null 2>"$work/session.log"
app="$WINEPREFIX/drive_c/Program Files/mervasTX"  # a blank in the service's command line
data="$WINEPREFIX/drive_c/ProgramData/mervasTX"
log="$data/paging_gateway.log" pages="$work/pages.txt"
unzip -q "$zip" -d "$app"

start_standin() {
  python3 "$here/snpp_standin.py" $snpp_address $snpp_port "$pages" >"$work/standin.log" 2>&1 &
  standin=$!
  for _ in $(seq 50); do grep -q listening "$work/standin.log" && return; sleep 0.1; done
  fail "the SNPP stand-in did not start: $(cat "$work/standin.log")"
}
gateway() { wine 'C:\Program Files\mervasTX\paging_gateway.exe' "$@"; }
service_state() { wine sc query mervasTXGateway | tr -d '\r' | awk '/STATE/ { print $4 }'; }
# Wine's net start and net stop may return while the service is still pending.
wait_state() {
  for _ in $(seq 100); do [ "$(service_state)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
# Waits until the log holds `count` lines matching `pattern`.
wait_log() {
  local pattern=$1 count=$2
  for _ in $(seq 100); do
    [ "$(grep -c -- "$pattern" "$log" 2>/dev/null)" -ge "$count" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_page() {
  for _ in $(seq 100); do grep -qxF -- "$1" "$pages" 2>/dev/null && return 0; sleep 0.1; done
  fail "the stand-in did not get \"$1\"; it has: $(cat "$pages" 2>/dev/null); the log: $(cat "$log")"
}
send() {
  probe send mervasTX "$1" "$2" 3 Pat 5550001111
  probe box "Message Status"
}
probe() { wine "$probe" "$@"; }

# Not from a user's own folder, which the service's account cannot read.
profile=$(wine cmd /c echo %USERPROFILE% | tr -d '\r')
mkdir -p "$(winepath -u "$profile")/Desktop"
cp "$app/paging_gateway.exe" "$(winepath -u "$profile")/Desktop/"
refused=$(wine "$profile\\Desktop\\paging_gateway.exe" --install-service 2>&1) && fail "installed from $profile"
[[ "$refused" == *"your own user folder"* ]] || fail "an install from $profile says: $refused"

# Installed: the service's entry as the service manager keeps it, and its settings file with the console's login.
start_standin
installed=$(PAGING_GATEWAY_WCTP_SECURITY_CODE=console-code gateway --install-service --relay $relay --retry-first 500 2>&1) ||
  fail "--install-service failed: $installed"
image='"C:\Program Files\mervasTX\paging_gateway.exe" --service --config C:\ProgramData\mervasTX\paging_gateway.toml'
entry=$(wine reg query 'HKLM\System\CurrentControlSet\Services\mervasTXGateway' | tr -d '\r')
for expected in 'DisplayName    REG_SZ    mervasTX paging gateway' 'Start    REG_DWORD    0x2' \
  'ObjectName    REG_SZ    NT AUTHORITY\LocalService' \
  "ImagePath    REG_SZ    $image"; do
  [[ "$entry" == *"$expected"* ]] || fail "the service's entry lacks \"$expected\": $entry"
done
config="$data/paging_gateway.toml"
settings=$(tr -d '\r' <"$config")
for expected in "url = '$relay'" "retry-first = '500'" "spool = 'C:\\ProgramData\\mervasTX\\spool'" \
  "wctp-security-code = 'console-code'"; do
  [[ $'\n'"$settings"$'\n' == *$'\n'"$expected"$'\n'* ]] || fail "the settings lack $expected: $settings"
done
[[ "$installed" == *"only administrators and the service may read it"* ]] || fail "the install says: $installed"
checked=$(gateway --check-config 'C:\ProgramData\mervasTX\paging_gateway.toml' 2>&1) ||
  fail "the written settings do not check out: $checked"
again=$(gateway --install-service --relay $relay 2>&1) && fail "installed twice"
[[ "$again" == *"installed already"* ]] || fail "a second install says: $again"

# Port 80 taken: the service stops at once, with the reason and the hint in its log.
# SO_REUSEADDR, since an earlier test's connections to port 80 may still be in TIME_WAIT; it still keeps any
# other listener off the port.
python3 -c 'import socket, time; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80)); s.listen(); print("taken", flush=True); time.sleep(30)' >"$work/holder.log" 2>&1 &
holder=$!
for _ in $(seq 50); do grep -q taken "$work/holder.log" && break; sleep 0.1; done
grep -q taken "$work/holder.log" || fail "could not take port 80 for the test: $(cat "$work/holder.log")"
wine net start mervasTXGateway >/dev/null 2>&1 || true
wait_state STOPPED || fail "a service that cannot listen is $(service_state)"
wait_log 'another program uses port 80; `netstat -ano | findstr :80` shows which' 1 ||
  fail "the log does not say why the service stopped: $(cat "$log")"
grep -q 'another program uses port 80' "$work/session.log" ||
  fail "no event log entry for the failed start: $(cat "$work/session.log")"
wine sc query mervasTXGateway | tr -d '\r' | grep -q 'SERVICE_EXIT_CODE  : 1 ' ||
  fail "the service's exit code does not say it failed: $(wine sc query mervasTXGateway)"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=''

# Started: it listens where mervasTX sends, and relays what mervasTX sends.
wine net start mervasTXGateway >/dev/null || fail "net start failed: $(cat "$log" 2>/dev/null)"
wait_state RUNNING || fail "the service is $(service_state) after net start"
wait_log 'listening on 127.0.0.1:80' 1 || {
  [ "$(grep -c 'Address already in use' "$log")" -ge 2 ] && skip "127.0.0.1:80 was taken as the service started"
  fail "the service does not listen: $(cat "$log")"
}
(cd "$app" && exec wine mervasTX.exe) &
program=$!
probe box "Welcome!" >/dev/null || fail "no welcome box"
status=$(send "hello through the service" 5551234567) || fail "no status box"
[ "$status" = "Message sent!" ] || fail "a page to the running service got \"$status\""
wait_page '5551234567: hello through the service (from Pat, callback 5550001111)'

# A page the network refuses for good: a warning in the event log, once.
status=$(send "refused for good" 5550000550) || fail "no status box"
wait_log 'failed: ' 1 || fail "the service did not fail the refused page: $(cat "$log")"
warning='mervasTX paging gateway: Page [0-9]* to 5550000550 failed: 550 Pager ID not found'
for _ in $(seq 50); do grep -q "$warning" "$work/session.log" && break; sleep 0.1; done
[ "$(grep -c "$warning" "$work/session.log")" = 1 ] ||
  fail "no single event log warning for the refused page: $(cat "$work/session.log")"

# A page the network cannot take yet stays in the spool across a stop.
kill "$standin"
wait "$standin" 2>/dev/null || true
standin=''
status=$(send "kept over the stop" 5552223333) || fail "no status box"
[ "$status" = "Message sent!" ] || fail "a page for the spool got \"$status\""
wait_log 'retrying in' 1 || fail "the service did not try the page: $(cat "$log")"
wine net stop mervasTXGateway >/dev/null || fail "net stop failed"
wait_state STOPPED || fail "the service is $(service_state) after net stop"
wait_log 'paging_gateway: stopped' 1 || fail "the log does not say it stopped: $(cat "$log")"
[ "$(ls "$data/spool" | grep -c '\.page$')" -eq 1 ] || fail "the spool holds: $(ls "$data/spool")"

# Stopped: mervasTX finds nobody on port 80.
status=$(send "nobody listening" 5554445555) || fail "no status box"
[ "$status" = "Connect failed!" ] || fail "a page sent while the service was stopped got \"$status\""

# Started again: the spooled page goes out.
start_standin
wine net start mervasTXGateway >/dev/null || fail "the second net start failed: $(cat "$log")"
wait_log 'listening on 127.0.0.1:80' 2 || fail "the service does not listen again: $(cat "$log")"
wait_page '5552223333: kept over the stop (from Pat, callback 5550001111)'
grep -q 'nobody listening' "$pages" && fail "a page sent while stopped arrived"

# Removed: stopped first, gone from the service manager with its logins (an older install's paging_gateway.env
# too); the settings without logins, the spool, the ledger and the log stay.
printf 'PAGING_GATEWAY_WCTP_SECURITY_CODE=older-code\r\n' >"$data/paging_gateway.env"
removed=$(gateway --uninstall-service 2>&1) || fail "--uninstall-service failed: $removed"
wine sc query mervasTXGateway >/dev/null 2>&1 && fail "the service is still there after --uninstall-service"
wait_log 'paging_gateway: stopped' 2 || fail "the log does not say it stopped again: $(cat "$log")"
[ -f "$log" ] || fail "the log went with the service"
[ -e "$data/paging_gateway.env" ] && fail "--uninstall-service left paging_gateway.env and its logins"
grep -q 'console-code' "$config" && fail "--uninstall-service left the security code in the settings"
grep -qF "$relay" "$config" || fail "--uninstall-service lost the settings: $(cat "$config")"
[ -f "$data/spool/ledger.txt" ] || fail "--uninstall-service took the ledger: $(ls -R "$data")"
[[ "$removed" == *"kept in C:\ProgramData\mervasTX: the pages still waiting and the ledger"* ]] ||
  fail "--uninstall-service says: $removed"

probe close mervasTX
timeout 20 tail --pid="$program" -f /dev/null || fail "mervasTX did not end"
program=''
echo "service test: installed, stopped on a taken port with the reason in its log, started, relayed," \
  "a refused page warned of in the event log, spooled over a stop, Connect failed! while stopped, started again, removed"
