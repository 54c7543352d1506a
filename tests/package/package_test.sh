#!/usr/bin/env bash
# The release zip as a Windows user meets it: what it holds, then the program run from an
# unpacked folder with the zip's own paging gateway, its readme opened from the program, the
# settings file left beside it.
# Usage: package_test.sh ZIP PACKAGE_PROBE_EXE OBJDUMP SPRINT_HOST   (inside tools/in_display.sh)
set -euo pipefail
zip=$1 probe=$2 objdump=$3 host=$4
max_program_bytes=262144

fail() { echo "package test: $*"; exit 1; }
[ -f "$zip" ] || fail "no $zip; build the release_zip target first"

work=$(mktemp -d)
app="$work/app"
program='' gateway='' holder='' console=''
finish() {
  local rc=$?
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$holder" ] && kill "$holder" 2>/dev/null || true
  [ -n "$console" ] && kill "$console" 2>/dev/null || true
  [ -n "$gateway" ] && kill "$gateway" 2>/dev/null || true
  if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
    import -window root "$work/failure.png" 2>/dev/null || true
    echo "package test failed; the unpacked folder, the gateway log and a screenshot are in $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

# What the zip holds, unpacked into an empty folder.
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listing" = "mervasTX.exe paging_gateway.example.toml paging_gateway.exe readme.txt " ] || fail "the zip holds: $listing"
unzip -q "$zip" -d "$app"

# Both programs: 32-bit PE, stripped, needing no DLL beyond the system's own.
system_dlls=' kernel32.dll msvcrt.dll user32.dll shell32.dll wsock32.dll ws2_32.dll advapi32.dll ole32.dll winhttp.dll '
for exe in mervasTX.exe paging_gateway.exe; do
  header=$("$objdump" -f -p "$app/$exe")
  [[ "$header" == *"file format pei-i386"* ]] || fail "$exe is not a 32-bit PE"
  [ "$("$objdump" -t "$app/$exe" | grep -c '^\[')" -eq 0 ] || fail "$exe is not stripped"
  for dll in $(awk '/DLL Name:/ { print tolower($3) }' <<<"$header"); do
    [[ "$system_dlls" == *" $dll "* ]] || fail "$exe needs $dll, which Windows does not have"
  done
done
[[ "$("$objdump" -p "$app/mervasTX.exe")" == *"(Windows GUI)"* ]] || fail "mervasTX.exe is no GUI program"

# The readme is for Notepad: printable ASCII only, every line ended by CR LF, at most 80 columns.
readme="$app/readme.txt"
[ "$(LC_ALL=C tr -d '\r\n\040-\176' <"$readme" | wc -c)" -eq 0 ] || fail "readme.txt holds other than printable ASCII"
[ "$(tr -cd '\r' <"$readme" | wc -c)" -eq "$(tr -cd '\n' <"$readme" | wc -c)" ] &&
  [ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ] &&
  [ "$(tail -c 2 "$readme" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "readme.txt has a line not ended by CR LF"
wide=$(tr -d '\r' <"$readme" | awk 'length > 80 { printf "%d ", NR }')
[ -z "$wide" ] || fail "readme.txt lines wider than 80 columns: $wide"

# Started from Explorer (alone in a console of its own) and unable to listen, the gateway waits for a key
# before its window closes, so that the reason can be read.
taken=127.77.18.30
python3 -c 'import socket, sys, time; s = socket.socket(); s.bind((sys.argv[1], 80)); s.listen()
print("taken", flush=True); time.sleep(60)' $taken >"$work/holder.log" 2>&1 &
holder=$!
for _ in $(seq 50); do grep -q taken "$work/holder.log" && break; sleep 0.1; done
(cd "$app" && exec wine start /wait paging_gateway.exe --address $taken) &
console=$!
window=''
for _ in $(seq 100); do
  window=$(xdotool search --name 'paging_gateway\.exe$' | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no console window for a gateway started on its own"
sleep 1
kill -0 "$console" 2>/dev/null || fail "the console of a gateway that could not listen closed without waiting"
xdotool mousemove --window "$window" 50 50 click 1
xdotool key space
timeout 10 tail --pid="$console" -f /dev/null || fail "the gateway's console did not close on a key"
wait "$console" && status=0 || status=$?
console=''
[ "$status" -eq 1 ] || fail "a gateway that could not listen ended with exit code $status"
kill "$holder"
holder=''

# The zip's gateway listens where this build sends Sprint messages.
case "$host" in
  localhost | 127.0.0.1) address=127.0.0.1 ;;
  *[!0-9.]*) echo "package test: MERVASTX_HOST_SPRINT=$host is no loopback address; skipped"; exit 77 ;;
  *) address=$host ;;
esac
(cd "$app" && exec wine paging_gateway.exe --address "$address" --once) >"$work/gateway.log" 2>&1 &
gateway=$!
for _ in $(seq 100); do grep -q 'listening\|cannot listen' "$work/gateway.log" && break; sleep 0.1; done
if ! grep -q listening "$work/gateway.log"; then
  echo "package test: $address:80 is taken (another run?), so the gateway cannot listen; skipped"
  cat "$work/gateway.log"
  exit 77
fi

probe() { wine "$probe" "$@"; }

(cd "$app" && exec wine mervasTX.exe) &
program=$!
welcome=$(probe box "Welcome!") || fail "no welcome box on the first run"
[[ "$welcome" == *"Please refer to the README file for directions"* ]] || fail "the welcome box says: $welcome"

# Command 120 opens the readme beside the program in Notepad.
probe command mervasTX 120 >/dev/null || fail "no main window"
probe text "readme.txt - Notepad" Edit >"$work/notepad.txt" || fail "Notepad did not open readme.txt"
cmp -s "$work/notepad.txt" "$readme" || fail "Notepad does not show readme.txt as it is in the zip"
probe close "readme.txt - Notepad"

probe send mervasTX "hello from the package" 5551234567 3 Pat 5550001111
status=$(probe box "Message Status") || fail "no status box after Send Message"
[ "$status" = "Message sent!" ] || fail "the status box says \"$status\""
timeout 10 tail --pid="$gateway" -f /dev/null || fail "the gateway received no page"
gateway=''
expected_page='page 000000000001 via Sprint: to "5551234567": "hello from the package" from "Pat" callback "5550001111"'
# Each line starts with its time, as the service's log has it.
[[ $'\n'"$(tr -d '\r' <"$work/gateway.log")"$'\n' == *$'\n'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\ [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\ "$expected_page"$'\n'* ]] ||
  fail "the gateway did not print the expected page; it printed: $(cat "$work/gateway.log")"

probe close mervasTX
timeout 20 tail --pid="$program" -f /dev/null || fail "mervasTX did not end"
wait "$program" && status=0 || status=$?
program=''
[ "$status" -eq 0 ] || fail "mervasTX ended with exit code $status"
printf 'CONTACTS\r\nUSER DETAILS\r\nPat:5550001111:' >"$work/expected.ini"
cmp -s "$work/expected.ini" "$app/mervasTX.ini" || fail "mervasTX.ini beside the program is not as expected"

# Last, so that a program grown too big is still checked for everything else first.
size=$(stat -c %s "$app/mervasTX.exe")
[ "$size" -le $max_program_bytes ] || fail "mervasTX.exe has $size bytes, more than $max_program_bytes"
echo "package test: zip contents, readme format, the console that waits, welcome, readme in Notepad," \
  "page sent, settings saved, $size bytes"
