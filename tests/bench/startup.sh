#!/usr/bin/env bash
# Start-up time under Wine: launch of mervasTX.exe to its visible main window, with 500 contacts and
# with an empty book, alternating, each run in a fresh folder; prints both medians and their ratio.
# Usage: tests/bench/startup.sh [program.exe] [runs of each book, default 7]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$(realpath "${1:-$root/build/windows/app/mervasTX.exe}")
runs=${2:-7}
if [ -z "${MERVASTX_STARTUP_IN_DISPLAY:-}" ]; then
  MERVASTX_STARTUP_IN_DISPLAY=1 exec "$root/tools/in_display.sh" "$0" "$exe" "$runs"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mervastx-startup.XXXXXX")
trap 'rm -rf "$work"' EXIT
i686-w64-mingw32-g++-posix -O2 -static -Wall -Wextra -I"$root" -o "$work/startup_waiter.exe" \
  "$root/tests/bench/startup_waiter.cpp"

# People's names with shared first names and prefixes: 240 different names among the 500.
{
  printf 'CONTACTS\r\n'
  awk 'BEGIN {
    split("Ann Anna Annabel Andrew Andrea Bob Bobby Carl Carla Chris Christine Dave David Ed Maria Mario Mark Mom Dad Sam Samantha Zed dentist work", first, " ")
    split("Smith Smithers Lopez Long Miller Mills Nguyen Ng O'\''Neil Oppenheimer-Zimmermann", last, " ")
    for (i = 0; i < 500; i++)
      printf "%s %s:%.0f:%s:\r\n", first[(i * 7) % 24 + 1], last[(i * 5 + int(i / 24)) % 10 + 1], 5550000000 + i * 37, substr("MACSUV", i % 6 + 1, 1)
  }'
  printf 'USER DETAILS\r\nSam:5550001111:'
} >"$work/full.ini"
printf 'CONTACTS\r\nUSER DETAILS\r\n::' >"$work/empty.ini"

program=$(winepath -w "$exe")
measure() {  # book, rows it must show, run: prints milliseconds
  local folder="$work/$1-$3" milliseconds rows
  mkdir "$folder"
  cp "$work/$1.ini" "$folder/mervasTX.ini"
  read -r milliseconds rows < <(cd "$folder" && wine "$work/startup_waiter.exe" "$program" | tr -d '\r')
  [ "$rows" = "$2" ] || { echo "startup: the $1 book showed ${rows:-no} rows, not $2" >&2; exit 1; }
  echo "$milliseconds"
}

# The first starts of a prefix load everything from disk.
measure full 500 warmup >/dev/null
measure empty 0 warmup >/dev/null
for ((run = 1; run <= runs; run++)); do
  full=$(measure full 500 "$run")
  empty=$(measure empty 0 "$run")
  printf 'full %s\nempty %s\n' "$full" "$empty" >>"$work/times"
done

median() {
  awk -v book="$1" '$1 == book { print $2 }' "$work/times" | sort -n |
    awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
full=$(median full)
empty=$(median empty)
echo "program: $exe"
echo "500 contacts: median $full ms of $runs ($(awk '$1 == "full" { printf "%s ", $2 }' "$work/times"))"
echo "empty book:   median $empty ms of $runs ($(awk '$1 == "empty" { printf "%s ", $2 }' "$work/times"))"
awk -v f="$full" -v e="$empty" 'BEGIN { printf "ratio 500 contacts / empty book: %.2f\n", f / e }'
