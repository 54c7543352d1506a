#!/usr/bin/env bash
# The real mervasTX.exe as a user drives it: send to a contact through the local paging gateway,
# add a contact, edit the sender name, close with the close glyph, and check the saved file.
# Usage: system_test.sh MERVASTX_EXE PAGING_GATEWAY_EXE SPRINT_HOST   (inside tools/in_display.sh)
set -euo pipefail
exe=$1 gateway_exe=$2 host=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/drive_windows.sh"

# The program sends to the Sprint host it was built with, on port 80; the gateway listens there.
case "$host" in
  localhost) address=127.0.0.1 ;;
  *[!0-9.]*) echo "system test: MERVASTX_HOST_SPRINT=$host is no loopback address; skipped"; exit 77 ;;
  *) address=$host ;;
esac

work=$(mktemp -d)
program='' gateway=''
finish() {
  local rc=$?
  [ -n "$program" ] && kill "$program" 2>/dev/null
  [ -n "$gateway" ] && kill "$gateway" 2>/dev/null
  if [ $rc -ne 0 ]; then
    import -window root "$work/failure.png" 2>/dev/null || true
    echo "system test failed; gateway log, settings and a screenshot are in $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

printf 'CONTACTS\r\nZoe Adams:5552223333:A:\r\nAlice Smith:5551234567:S:\r\nUSER DETAILS\r\nBob:5550001111:' \
  >"$work/mervasTX.ini"

wine "$gateway_exe" --address "$address" --once >"$work/gateway.log" 2>&1 &
gateway=$!
for _ in $(seq 50); do grep -q listening "$work/gateway.log" && break; sleep 0.1; done
if ! grep -q listening "$work/gateway.log"; then
  echo "the paging gateway could not listen on $address:80 (is another run using it?):"
  cat "$work/gateway.log"
  exit 1
fi

(cd "$work" && exec wine "$exe") &
program=$!
main=$(wait_window mervasTX)
sleep 0.5

click "$main" 60 180                 # the message box
type_text "hello from mervas"
click "$main" 50 43                  # first row of the contact list: Alice Smith, Sprint
click "$main" 267 266                # Send Message
accept_box "Message Status"

timeout 10 tail --pid="$gateway" -f /dev/null || { echo "the gateway received no page"; exit 1; }
gateway=''
expected_page='page 000000000001 via Sprint: to "5551234567": "hello from mervas" from "Bob" callback "5550001111"'
# Each line starts with its time, as the service's log has it.
if ! tr -d '\r' <"$work/gateway.log" | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} //' |
  grep -qxF "$expected_page"; then
  echo "the gateway did not print the expected page; it printed:"; cat "$work/gateway.log"; exit 1
fi

click "$main" 300 46                 # sender name: replace "Bob" after the send has stored it
press End BackSpace BackSpace BackSpace
type_text "Robert"

click "$main" 41 124                 # Add
dialog=$(wait_window "add contact")
sleep 0.3
click "$dialog" 120 37               # name
type_text "Mary Jones"
click "$dialog" 120 63               # number
type_text "5557654321"
press Tab v                          # carrier: the first name starting with V, Verizon
click "$dialog" 50 120               # OK
wait_gone "add contact"

click "$main" 320 6                  # the close glyph
timeout 20 tail --pid="$program" -f /dev/null || { echo "mervasTX did not end"; exit 1; }
wait "$program" && status=0 || status=$?
program=''
[ "$status" -eq 0 ] || { echo "mervasTX ended with exit code $status"; exit 1; }

expected="$work/expected.ini"
printf 'CONTACTS\r\nAlice Smith:5551234567:S:\r\nMary Jones:5557654321:V:\r\nZoe Adams:5552223333:A:\r\n' >"$expected"
printf 'USER DETAILS\r\nRobert:5550001111:' >>"$expected"
if ! cmp "$expected" "$work/mervasTX.ini"; then
  echo "mervasTX.ini differs from what was expected:"; od -c "$work/mervasTX.ini"; exit 1
fi
echo "system test: page delivered, contact added, settings saved byte for byte"
