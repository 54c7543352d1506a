#!/usr/bin/env bash
# The gateway's Debian package as dpkg would install it: its files and control fields, a packaged program
# without sanitizers that checks the packaged example, and the packaged unit as systemd reads it.
# Usage: deb_test.sh DEB
set -euo pipefail
deb=$1
fail() { echo "deb test: $*"; exit 1; }
[ -f "$deb" ] || fail "no $deb; build the debian_package target first"
[ "$(basename "$deb")" = paging-gateway_0.7.0_amd64.deb ] || fail "the package is named $(basename "$deb")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = paging-gateway ] || fail "Package: $(field Package)"
[ "$(field Version)" = 0.7.0 ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
for needed in libcurl4 libexpat1; do
  [[ ", $(field Depends)," == *", $needed "* ]] || fail "Depends lacks $needed: $(field Depends)"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$work" ./conffiles
[ "$(cat "$work/conffiles")" = /etc/paging_gateway/paging_gateway.toml ] || fail "conffiles: $(cat "$work/conffiles")"

# What it installs, with owners and modes.
listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
expected='-rw------- root/root ./etc/paging_gateway/paging_gateway.toml
-rw-r--r-- root/root ./lib/systemd/system/paging_gateway.service
-rwxr-xr-x root/root ./usr/sbin/paging_gateway'
[ "$listing" = "$expected" ] || fail "the package holds: $listing"

root="$work/root"
dpkg-deb -x "$deb" "$root"
gateway="$root/usr/sbin/paging_gateway"
# A normal build: no sanitizer runtime, stripped, and every library it needs there.
libraries=$(ldd "$gateway")
[[ "$libraries" != *libasan* && "$libraries" != *libubsan* ]] || fail "the packaged program has sanitizers: $libraries"
[[ "$libraries" != *"not found"* ]] || fail "the packaged program lacks a library: $libraries"
[[ "$libraries" == *libcurl.so.4* && "$libraries" == *libexpat.so.1* ]] || fail "links: $libraries"
file "$gateway" | grep -q ', stripped' || fail "the packaged program is not stripped"

example="$root/etc/paging_gateway/paging_gateway.toml"
checked=$("$gateway" --check-config "$example") || fail "--check-config refuses the packaged example: $checked"
[[ "$checked" == *"is good"* ]] || fail "--check-config says: $checked"
# A route added to the packaged example, as a user's first edit would.
{ cat "$example"; printf '[[route]]\nurl = "snpp://snpp.pager.example.net"\nsnpp-password = "pw"\n'; } >"$work/edited.toml"
chmod 644 "$work/edited.toml"
"$gateway" --check-config "$work/edited.toml" >"$work/refused.txt" 2>&1 && fail "a readable file with a password passed"
grep -q 'holds a secret (snpp-password) but other users may read it' "$work/refused.txt" ||
  fail "a readable file with a password: $(cat "$work/refused.txt")"
chmod 600 "$work/edited.toml"
routes=$("$gateway" --check-config "$work/edited.toml") || fail "an edited example is refused: $routes"
[[ "$routes" == *"relaying every carrier's pages to snpp://snpp.pager.example.net:444"* ]] ||
  fail "--check-config shows: $routes"

unit="$root/lib/systemd/system/paging_gateway.service"
if command -v systemd-analyze >/dev/null; then
  # Verified against the unpacked tree, where its program and its configuration are.
  sed "s|/usr/sbin/paging_gateway|$gateway|; s|:/etc/paging_gateway/|:$root/etc/paging_gateway/|" "$unit" \
    >"$work/paging_gateway.service"
  report=$(systemd-analyze verify "$work/paging_gateway.service" 2>&1) || fail "systemd-analyze verify: $report"
  [ -z "$report" ] || fail "systemd-analyze verify says: $report"
fi
grep -qxF 'ExecStart=/usr/sbin/paging_gateway --config %d/paging_gateway.toml --spool %S/paging_gateway/spool' "$unit" ||
  fail "the packaged unit does not start the packaged program with its configuration"
echo "deb test: control fields, conffile, contents and modes, a program without sanitizers that checks the" \
  "example, the unit verified"
