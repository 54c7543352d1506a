#!/usr/bin/env bash
# The systemd unit as systemd reads it (every key known, every value valid, its program there), with the
# hardening it promises, and the example configuration file as the gateway reads it.
# Usage: systemd_unit_test.sh SOURCE_DIR PAGING_GATEWAY
set -euo pipefail
source_dir=$1 gateway=$2
unit="$source_dir/paging_gateway/service/paging_gateway.service"
settings="$source_dir/paging_gateway/service/paging_gateway.toml"

fail() { echo "systemd unit test: $*"; exit 1; }
command -v systemd-analyze >/dev/null || { echo "systemd unit test: no systemd-analyze here; skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Verified with this build's program where the installed one will be.
sed "s|/usr/sbin/paging_gateway|$gateway|" "$unit" >"$work/paging_gateway.service"
report=$(systemd-analyze verify "$work/paging_gateway.service" 2>&1) || fail "systemd-analyze verify failed: $report"
[ -z "$report" ] || fail "systemd-analyze verify says: $report"

start='ExecStart=/usr/sbin/paging_gateway --config %d/paging_gateway.toml --spool %S/paging_gateway/spool'
for setting in DynamicUser=yes StateDirectory=paging_gateway Restart=on-failure \
  AmbientCapabilities=CAP_NET_BIND_SERVICE CapabilityBoundingSet=CAP_NET_BIND_SERVICE ProtectSystem=strict \
  NoNewPrivileges=yes ProtectHome=yes PrivateTmp=yes "$start" \
  LoadCredential=paging_gateway.toml:/etc/paging_gateway/paging_gateway.toml; do
  grep -qxF -- "$setting" "$unit" || fail "the unit lacks $setting"
done

# The example checks out as it ships, and the unit's own options go with it.
cp "$settings" "$work/paging_gateway.toml"
"$gateway" --check-config "$work/paging_gateway.toml" >/dev/null || fail "the example does not check out"
"$gateway" --config "$work/paging_gateway.toml" --spool "$work/spool" --help >/dev/null ||
  fail "the gateway refuses the unit's options with the example"
echo "systemd unit test: verified, hardened, example taken"
