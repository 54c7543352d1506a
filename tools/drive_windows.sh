# Shell helpers (sourced) that drive mervasTX's windows with xdotool in a virtual display.
# Positions are pixels inside a window at 6 x 13 dialog base units, as the artwork is laid out.

# Prints the id of the first window titled exactly $1, waiting up to ${2:-20} seconds.
wait_window() {
  local id
  id=$(timeout "${2:-20}" xdotool search --sync --name "^$1\$" 2>/dev/null | head -n 1) || true
  [ -n "$id" ] || { echo "no window titled \"$1\" appeared" >&2; return 1; }
  echo "$id"
}

# Succeeds once no window titled $1 is mapped, within ${2:-10} seconds.
wait_gone() {
  local deadline=$((SECONDS + ${2:-10}))
  while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || { echo "window \"$1\" did not close" >&2; return 1; }
    sleep 0.1
  done
}

# Left click at x y inside window $1.
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.2
}

# Types text into whatever has the keyboard focus (the window manager is Wine itself).
type_text() {
  xdotool type --delay 20 -- "$1"
  sleep 0.2
}

press() {
  xdotool key "$@"
  sleep 0.2
}

# Waits for the message box titled $1 and accepts it with Enter.
accept_box() {
  wait_window "$1" >/dev/null || return 1
  sleep 0.3
  press Return
  wait_gone "$1"
}

screenshot() {
  sleep 0.3
  import -window "$1" "$2"
}
