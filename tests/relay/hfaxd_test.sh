#!/bin/bash
# The relay against a real SNPP server: Debian's hfaxd, run as root in a network and mount namespace of the
# test's own, over private copies of /etc/hylafax and /var/spool/hylafax; the relay tests' RelayHfaxd case
# then sends pages through the real gateway to it. Exits 77 (skipped) where that cannot be had.
# Usage: hfaxd_test.sh RELAY_TESTS_BINARY [TRANSCRIPT_COPY]
set -u
here=$(cd "$(dirname "$0")" && pwd)
tests=$1
keep=${2:-}
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${HFAXD_TEST_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip "the real hfaxd test runs as root only (it needs its own network and mount namespace)"
    for tool in hfaxd faxq; do
        command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || skip "no $tool: install hylafax-server (tools/setup.sh)"
    done
    [ -d /etc/hylafax ] && [ -d /var/spool/hylafax ] || skip "hylafax-server is not installed (tools/setup.sh)"
    command -v openssl >/dev/null || skip "no openssl to make hfaxd's password"
    unshare -n -m -p --fork --mount-proc true 2>/dev/null || skip "no network, mount and process namespace to be had here"
    # A process namespace of its own: whatever the test started ends with it.
    HFAXD_TEST_INSIDE=1 exec unshare -n -m -p --fork --mount-proc "$0" "$@"
fi

export PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
work=$(mktemp -d /tmp/hfaxd_test.XXXXXX)
finish() {
    kill $(jobs -p) 2>/dev/null
    umount -l /var/spool/hylafax/etc /etc/hylafax /var/spool/hylafax 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "FAILED: $*"
    echo "--- SNPP dialogue, session by session"; sort -s -n -k1,1 "$work/transcript" 2>/dev/null
    echo "--- hfaxd and faxq log"; tail -n 40 "$work/syslog" 2>/dev/null
    exit 1
}

ip link set lo up || fail "no loopback in the namespace"
mount --make-rprivate /
# As the package's init script does (copy_slash_etc), but with copies of the test's own.
cp -a /etc/hylafax "$work/etc" && cp -a /var/spool/hylafax "$work/spool" || fail "cannot copy hylafax's folders"
mount --bind "$work/spool" /var/spool/hylafax && mount --bind "$work/etc" /etc/hylafax &&
    mount --bind "$work/etc" /var/spool/hylafax/etc || fail "cannot bind the copies over hylafax's folders"
spool=/var/spool/hylafax
rm -f "$spool"/sendq/q* "$spool"/doneq/q* "$spool"/docq/doc*

crypt=$(openssl passwd -6 -salt gatewaysalt s3cret)
printf '%s\n' "^gateway@(localhost|127\\.0\\.0\\.1)\$::$crypt" >/etc/hylafax/hosts.hfaxd
printf '%s\n' '^[0-9]+$ 18005551212/&' >/etc/hylafax/pagermap

# hfaxd and faxq log to syslog only: a /dev/log of the test's own, in the spool they work in.
python3 "$here/snpp_tap.py" syslog "$spool/dev/log" "$work/syslog" &
for _ in $(seq 50); do [ -S "$spool/dev/log" ] && break; sleep 0.1; done
[ -S "$spool/dev/log" ] || fail "no log socket"
faxq -D >>"$work/daemons.out" 2>&1 &
hfaxd -d -l 127.0.0.1 -s 4444 >>"$work/daemons.out" 2>&1 &
python3 "$here/snpp_tap.py" tap 127.0.0.2 444 4444 "$work/transcript" &
for _ in $(seq 100); do
    python3 -c 'import socket; socket.create_connection(("127.0.0.2", 444), 1).recv(1)' 2>/dev/null && break
    sleep 0.1
done
: >"$work/transcript"

HFAXD_SNPP=127.0.0.2 HFAXD_SPOOL=$spool HFAXD_TRANSCRIPT=$work/transcript \
    "$tests" --gtest_filter='RelayHfaxd.*' --gtest_brief=1 >"$work/gtest.out" 2>&1
code=$?
cat "$work/gtest.out"
grep -q "\[  PASSED  \] 1 test" "$work/gtest.out" || code=1
[ "$code" = 0 ] || fail "the relay tests' RelayHfaxd case failed"
[ -z "$keep" ] || sort -s -n -k1,1 "$work/transcript" >"$keep"
echo "--- SNPP dialogue, session by session"
sort -s -n -k1,1 "$work/transcript"
exit 0
