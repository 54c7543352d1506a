#!/usr/bin/env bash
# Notices from the Windows gateway under Wine, on the paths only Windows has: a page the WCTP stand-in refuses
# gives one notice by WinHTTP to the webhook receiver and one by CreateProcess to a probe program whose path
# has a blank in it, each with the same JSON object and the probe given exactly its two arguments. (Wine
# re-quotes a program it had to search for, so the quoting's own rules are checked by core_tests' table.)
# Usage: notice_wine_test.sh PAGING_GATEWAY_EXE NOTICE_PROBE_EXE   (inside tools/in_display.sh)
set -euo pipefail
exe=$1 probe=$2
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
work=$(mktemp -d)
pids=()
finish() {
  local rc=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ $rc -ne 0 ]; then echo "notice wine test failed; its files are in $work"; else rm -rf "$work"; fi
}
trap finish EXIT
fail() { echo "notice wine test: $*"; exit 1; }
wait_for() {  # wait_for PATH: up to 20 s
  for _ in $(seq 200); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

mkdir "$work/wctp" "$work/hook" "$work/runs" "$work/notice probe"
cp "$probe" "$work/notice probe/notice_probe.exe"
$py "$here/wctp_standin.py" serve 127.77.42.1 8080 "$work/wctp" 2>"$work/wctp.err" &
pids+=($!)
$py "$here/webhook_standin.py" 127.77.42.1 8088 "$work/hook" 2>"$work/hook.err" &
pids+=($!)
wait_for "$work/wctp/ready" && wait_for "$work/hook/ready" || fail "the stand-ins did not start"

NOTICE_PROBE_OUT=$(winepath -w "$work/runs") PAGING_GATEWAY_WCTP_SENDER=gw-sender \
  wine "$exe" --address 127.77.42.11 --port 8081 --spool "$work/spool" --retry-first 200 \
  --relay wctp+http://127.77.42.1:8080/wctp --notify-url http://127.77.42.1:8088/gateway/notices \
  --notify-command "$(winepath -w "$work/notice probe/notice_probe.exe")" >"$work/gw.out" 2>"$work/gw.err" &
pids+=($!)
for _ in $(seq 200); do grep -q "listening on" "$work/gw.err" 2>/dev/null && break; sleep 0.1; done
grep -q "listening on" "$work/gw.err" || fail "the gateway did not start: $(cat "$work/gw.err")"

# The stand-in refuses a recipient ending 403 for good.
$py - <<'PY' || fail "the gateway did not take the page"
import socket
with socket.create_connection(("127.77.42.11", 8081), timeout=10) as peer:
    peer.sendall(b"GET /BMG/sendmessage.jsp?phoneMin=555%20123%204403&msg=never%20to%20go HTTP/1.0\r\n\r\n")
    assert peer.recv(100).startswith(b"HTTP/1.0 200"), "refused"
PY
wait_for "$work/hook/001.post" || fail "no webhook notice: $(cat "$work/gw.out")"
wait_for "$work/runs/001.cmd" || fail "no command notice: $(cat "$work/gw.out")"
sleep 1.5  # time for a second notice, which must not come
$py - "$work" <<'PY' || fail "the notices are not as sent: $(cat "$work/gw.out")"
import glob, json, sys
work = sys.argv[1]
posts = sorted(glob.glob(work + "/hook/*.post"))
runs = sorted(glob.glob(work + "/runs/*.cmd"))
assert len(posts) == 1 and len(runs) == 1, (posts, runs)
fields = dict((key, bytes.fromhex(value) if value != "-" else b"") for key, value in
              (line.split() for line in open(posts[0])))
assert fields["path"] == b"/gateway/notices", fields["path"]
assert fields["type"] == b"application/json", fields["type"]
notice = json.loads(fields["body"])
page = notice["page"]
assert notice["event"] == "failed" and notice["host"], notice
assert page["phone"] == "555 123 4403" and page["state"] == "failed", page
assert page["reply"].startswith("403"), page["reply"]
count, event, page_id, stdin = open(runs[0], newline="").read().split("\n", 3)
assert (count, event, page_id) == ("2", "failed", page["id"]), (count, event, page_id)
assert json.loads(stdin) == notice, stdin
PY
for channel in webhook command; do
  grep -q " notice event=failed channel=$channel outcome=delivered" "$work/spool/ledger.txt" ||
    fail "the ledger lacks the $channel notice: $(cat "$work/spool/ledger.txt")"
done
echo "notice wine test: one failed notice by WinHTTP and one by CreateProcess, the same object in each"
