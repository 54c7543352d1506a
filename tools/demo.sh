#!/usr/bin/env bash
# A short scripted session for run.sh without a display: type a message, pick a carrier, send, close.
# Usage (inside tools/in_display.sh, the paging gateway already listening): demo.sh EXE WORKDIR SHOTS
set -euo pipefail
exe=$(realpath "$1") workdir=$2 shots=$3
source "$(dirname "$0")/drive_windows.sh"
mkdir -p "$workdir" "$shots"

first_run=no
[ -f "$workdir/mervasTX.ini" ] || first_run=yes
(cd "$workdir" && exec wine "$exe") &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT
if [ $first_run = yes ]; then
  echo "demo: first run, accepting the welcome box"
  accept_box "Welcome!"
fi

main=$(wait_window mervasTX)
screenshot "$main" "$shots/1-start.png"

select_and_type() {  # replaces the text of the edit at x y in the main window
  click "$main" "$1" "$2"
  press End shift+Home
  type_text "$3"
}
echo "demo: typing a message to 5551234567 from \"Demo\", callback 5550001111, carrier Sprint"
select_and_type 268 46 "Demo"
select_and_type 268 72 "5550001111"
select_and_type 268 98 "5551234567"
press Tab Tab s                      # from the phone number past "Send Message" to the carrier: Sprint
click "$main" 60 180
type_text "Hello from the mervasTX demo"
screenshot "$main" "$shots/2-before-send.png"

echo "demo: pressing Send Message"
click "$main" 267 266
box=$(wait_window "Message Status")
screenshot "$box" "$shots/3-status.png"
accept_box "Message Status"
screenshot "$main" "$shots/4-after-send.png"

echo "demo: closing with the close glyph"
click "$main" 320 6
timeout 20 tail --pid="$program" -f /dev/null
trap - EXIT
echo "demo: screenshots in $shots; settings saved in $workdir/mervasTX.ini"
