#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for a bounded time.
# Usage: run_fuzz.sh BUILD_DIR SECONDS_EACH [TARGET...] (default: all four targets).
# Prints the inputs run, the seconds and the findings of each; exits non-zero when any target found a fault.
set -euo pipefail

build_dir=${1:?usage: run_fuzz.sh BUILD_DIR SECONDS_EACH [TARGET...]}
seconds=${2:-15}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(settings_fuzz request_fuzz gateway_http_fuzz wctp_reply_fuzz)
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build_dir/libfuzzer"
work=$(cd "$build_dir/libfuzzer" && pwd)
rm -rf "$work/objects"
mkdir -p "$work/generated" "$work/objects"

# The code needs no real host values; a header of its own keeps this independent of any CMake build.
sed -e 's/@MERVASTX_FORM_EMAIL@/pager@example.com/' -e 's/@MERVASTX_HOST_[A-Z]*@/localhost/' \
    "$root/cmake/carrier_hosts.h.in" > "$work/generated/carrier_hosts.h"

flags=(-std=c++17 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS
       -I"$root" -I"$work/generated")
sources=(common/text.cpp contacts/contact_table.cpp contacts/settings.cpp gateway/carriers.cpp gateway/request.cpp
         gateway/assemble.cpp gateway/delivery.cpp gateway/send_command.cpp gateway/net_posix.cpp
         paging_gateway/intake/form.cpp paging_gateway/intake/http.cpp paging_gateway/intake/page.cpp
         paging_gateway/relay/upstream.cpp paging_gateway/relay/wctp_message.cpp paging_gateway/relay/wctp_reply.cpp
         paging_gateway/platform/xml_expat.cpp)

# The code under test is compiled once, with coverage instrumentation, two files at a time.
pids=()
for source in "${sources[@]}"; do
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$root/$source" -o "$work/objects/${source//\//_}.o" &
    pids+=($!)
    if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for pid in "${pids[@]}"; do wait "$pid"; done

seed() {  # seed TARGET NAME FORMAT [ARGS...]: one seed input, written with printf
    local target=$1 name=$2
    shift 2
    # shellcheck disable=SC2059
    printf "$@" > "$work/$target/corpus/$name"
}

seed_inputs() {
    case $1 in
        settings_fuzz)
            seed "$1" contacts 'CONTACTS\r\nAnn:5551234567:V:\r\nAl:123:M:\r\nAnna:5559876543:3:\r\nUSER DETAILS\r\nSam:5550001111:'
            seed "$1" empty 'CONTACTS\r\nUSER DETAILS\r\n::'
            seed "$1" lf 'CONTACTS\nBob::V:\n:5551234567:0:\nUSER DETAILS\n:5550001111:'
            # As SaveSettings writes what the windows can hold: the longest fields, any byte but ':', CR and LF.
            seed "$1" widest 'CONTACTS\r\n \001\011 Maria \"Jose\" Lopez-Garcia \351\377\177:+1(555) 0\032:V:\r\nAl:1:M:\r\nUSER DETAILS\r\nDr. Who & \200\t co. %%s:555-000 11:'
            seed "$1" details-only 'CONTACTS\r\nUSER DETAILS\r\n:5550001111:' ;;
        request_fuzz)
            # Carrier position, the four lengths, then message, phone, sender and callback.
            seed "$1" sprint '\004\010\012\003\012hi there5551234567Bob5550001111'
            seed "$1" verizon '\006\023\010\011\010a&b=c%%d+e555 1234Ann & Bo555-0001'
            seed "$1" ameritech '\001\006\001\010\010x  -  y1Jean-Luc555-0001' ;;
        gateway_http_fuzz)
            seed "$1" get 'GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%%20there%%20-from%%20Bob&callback=5550001111 HTTP/1.0\r\n\r\n'
            seed "$1" post 'POST /customer_site/jsp/disclaimer.jsp HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\nContent-Length: 108\r\n\r\ndisclaimer_submit.x=20&disclaimer_submit.y=20&min=5551234567&text=hi%%20there&subject=Bob&callback=5550001111\r\n\r\n'
            seed "$1" typed 'POST /messagecenter/pagersend.cgi HTTP/1.1\ncontent-length:  5\nX: y\n\npin=1'
            seed "$1" damaged '\001\002\001\100A\003\200\000' ;;
        wctp_reply_fuzz)
            seed "$1" success '<wctp-Operation><wctp-SubmitClientResponse><wctp-ClientSuccess successCode="200" trackingNumber="T9"/></wctp-SubmitClientResponse></wctp-Operation>'
            seed "$1" query '<?xml version="1.0" encoding="windows-1252"?><wctp-Operation><wctp-ClientQueryResponse><wctp-ClientResponse><wctp-ClientStatusInfo><wctp-Notification type="READ"/><wctp-Failure errorCode="500" errorText="caf\351"/></wctp-ClientStatusInfo></wctp-ClientResponse></wctp-ClientQueryResponse></wctp-Operation>'
            seed "$1" spliced '\001\200 & <a b="&#13;"/> \r\n\351\200\001' ;;
    esac
}

max_len() {
    case $1 in
        request_fuzz) echo 300 ;;            # four lengths and the longest texts the edits take
        gateway_http_fuzz) echo 20000 ;;     # past the 16 KiB cap
        wctp_reply_fuzz) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

failed=0
for target in "${targets[@]}"; do
    # A fresh corpus each run keeps the run bounded and its figures comparable between runs.
    rm -rf "${work:?}/$target"
    mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
    clang++ "${flags[@]}" -fsanitize=fuzzer "$root/tests/fuzz/$target.cpp" "$work"/objects/*.o -lexpat \
        -o "$work/$target/$target"
    seed_inputs "$target"

    status=0
    start=$(date +%s.%N)
    "$work/$target/$target" -max_total_time="$seconds" -timeout=25 -max_len="$(max_len "$target")" \
        -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" \
        > "$work/$target/fuzz.log" 2>&1 || status=$?
    elapsed=$(awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { printf "%.1f", end - start }')
    inputs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/$target/fuzz.log")
    findings=$(find "$work/$target/artifacts" -type f | wc -l)
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$work/$target/fuzz.log"
        [ "$findings" -gt 0 ] || findings=1
        failed=1
    fi
    printf '%s: %s inputs run in %s s, %d findings%s\n' "$target" "${inputs:-?}" "$elapsed" "$findings" \
        "$([ "$status" -eq 0 ] || echo " (exit $status; artifacts in $work/$target/artifacts)")"
done
exit "$failed"
