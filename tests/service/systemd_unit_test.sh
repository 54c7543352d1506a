#!/usr/bin/env bash
# The systemd unit as systemd reads it (every key known, every value valid, its program there), with the
# hardening it promises, and the example settings file's options as the gateway reads them.
# Usage: systemd_unit_test.sh SOURCE_DIR PAGING_GATEWAY
set -euo pipefail
source_dir=$1 gateway=$2
unit="$source_dir/paging_gateway/service/paging_gateway.service"
settings="$source_dir/paging_gateway/service/paging_gateway.env"

fail() { echo "systemd unit test: $*"; exit 1; }
command -v systemd-analyze >/dev/null || { echo "systemd unit test: no systemd-analyze here; skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Verified with this build's program where the installed one will be.
sed "s|/usr/local/bin/paging_gateway|$gateway|" "$unit" >"$work/paging_gateway.service"
report=$(systemd-analyze verify "$work/paging_gateway.service" 2>&1) || fail "systemd-analyze verify failed: $report"
[ -z "$report" ] || fail "systemd-analyze verify says: $report"

start='ExecStart=/usr/local/bin/paging_gateway --spool %S/paging_gateway/spool $PAGING_GATEWAY_OPTIONS'
for setting in DynamicUser=yes StateDirectory=paging_gateway Restart=on-failure \
  AmbientCapabilities=CAP_NET_BIND_SERVICE CapabilityBoundingSet=CAP_NET_BIND_SERVICE ProtectSystem=strict \
  NoNewPrivileges=yes ProtectHome=yes PrivateTmp=yes "$start" EnvironmentFile=/etc/paging_gateway/paging_gateway.env; do
  grep -qxF -- "$setting" "$unit" || fail "the unit lacks $setting"
done

# The example's options are ones the gateway takes (--help only answers once every option before it is good).
options=$(sed -n 's/^PAGING_GATEWAY_OPTIONS=//p' "$settings")
[ -n "$options" ] || fail "the settings file sets no PAGING_GATEWAY_OPTIONS"
# shellcheck disable=SC2086 # split into words as systemd splits $PAGING_GATEWAY_OPTIONS
"$gateway" $options --help >/dev/null || fail "the gateway refuses the example's options: $options"
echo "systemd unit test: verified, hardened, example options taken"
