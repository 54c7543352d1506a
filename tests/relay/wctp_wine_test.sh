#!/usr/bin/env bash
# WCTP from the Windows gateway under Wine, against the Python stand-in run natively: one page over
# wctp+http://, one over wctp+https:// with the test CA trusted in the prefix's Root store for the test's
# length only, and a server of another issuer that must never get its page.
# Usage: wctp_wine_test.sh PAGING_GATEWAY_EXE   (inside tools/in_display.sh)
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
secret='s3cr&t<"'"'"'>'
work=$(mktemp -d)
pids=() trusted=''
finish() {
  local rc=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -z "$trusted" ] || wine reg delete "$trusted" /f >/dev/null 2>&1 || true
  if [ $rc -ne 0 ]; then echo "wctp wine test failed; its files are in $work"; else rm -rf "$work"; fi
}
trap finish EXIT
fail() { echo "wctp wine test: $*"; exit 1; }
wait_for() {  # wait_for FILE TEXT: up to 20 s
  for _ in $(seq 200); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# Stand-ins: .31 plain HTTP, .32 with the test CA's certificate, .33 with a self-signed one.
$py "$here/wctp_standin.py" certs "$work" 127.77.17.32 127.77.17.33
for server in "31 8080" "32 8443 server" "33 8443 rogue"; do
  set -- $server
  mkdir "$work/$1"
  $py "$here/wctp_standin.py" serve "127.77.17.$1" "$2" "$work/$1" ${3:+"$work/$3.pem" "$work/$3.key"} \
    2>"$work/$1.err" &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$work/$1/ready" ] && break; sleep 0.1; done
done

# The CA in the current user's Root store, as crypt32 keeps it: a serialized certificate under its SHA-1.
trusted=$($py - "$work/ca.pem" "$work/ca.reg" <<'PY'
import hashlib, ssl, struct, sys
der = ssl.PEM_cert_to_DER_cert(open(sys.argv[1]).read())
key = ("HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" +
       hashlib.sha1(der).hexdigest().upper())
blob = struct.pack("<III", 32, 1, len(der)) + der  # CERT_CERT_PROP_ID, then the encoded certificate
with open(sys.argv[2], "w") as reg:
    reg.write('REGEDIT4\r\n\r\n[%s]\r\n"Blob"=hex:%s\r\n' % (key, ",".join("%02x" % b for b in blob)))
print(key)
PY
)
wine reg import "$work/ca.reg" >/dev/null 2>&1 || fail "cannot import the test CA"

# One gateway per stand-in (the gateway's own address .41-.43), each sent one page as Sprint's form sends it.
for n in 31 32 33; do
  scheme=$([ $n = 31 ] && echo "http" || echo "https") port=$([ $n = 31 ] && echo 8080 || echo 8443)
  PAGING_GATEWAY_WCTP_SENDER=gw-sender PAGING_GATEWAY_WCTP_SECURITY_CODE=$secret \
    wine "$exe" --address 127.77.17.$((n + 10)) --port 8081 --spool "$work/spool$n" --retry-first 200 \
    --relay "wctp+$scheme://127.77.17.$n:$port/wctp" >"$work/gw$n.out" 2>"$work/gw$n.err" &
  pids+=($!)
  wait_for "$work/gw$n.err" "listening on" || fail "gateway $n did not start: $(cat "$work/gw$n.err")"
  $py - 127.77.17.$((n + 10)) <<'PY' || fail "gateway $n did not take the page"
import socket, sys
query = ("phoneMin=555%20123%204567&msg=a%20%26%20b%20%3C%20c%20%3E%20d%20%22%20e%20%27%20f%20caf%E9%0D%0Anext"
         "&callback=5550001111")
with socket.create_connection((sys.argv[1], 8081), timeout=10) as peer:
    peer.sendall(("GET /BMG/sendmessage.jsp?%s HTTP/1.0\r\n\r\n" % query).encode())
    assert peer.recv(100).startswith(b"HTTP/1.0 200"), "refused"
PY
done

for n in 31 32; do
  wait_for "$work/gw$n.out" "^[0-9: -]*relayed: " || fail "no relay $n: $(cat "$work/gw$n.out")"
  $py - "$work/$n" "$secret" <<'PY' || fail "page $n arrived changed"
import glob, sys
posts = sorted(glob.glob(sys.argv[1] + "/*.wctp"))
assert len(posts) == 1, posts
fields = dict((key, bytes.fromhex(value) if value != "-" else b"") for key, value in
              (line.split() for line in open(posts[0])))
expected = {"op": b"wctp-SubmitClientMessage", "sender": b"gw-sender", "misc": sys.argv[2].encode(),
            "recipient": b"5551234567", "text": b"a & b < c > d \" e ' f caf\xe9\r\nnext (callback 5550001111)"}
for key, value in expected.items():
    assert fields[key] == value, (key, fields[key], value)
PY
done
wait_for "$work/gw33.out" "^[0-9: -]*retrying in " || fail "the self-signed server's page: $(cat "$work/gw33.out")"
[ -z "$(ls "$work/33"/*.wctp 2>/dev/null)" ] || fail "the self-signed server was sent the page"
! grep -q "s3cr" "$work"/gw*.out "$work"/gw*.err || fail "the security code was printed"
echo "wctp wine test: http and https pages arrived whole; the untrusted server got nothing"
