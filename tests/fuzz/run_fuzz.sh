#!/usr/bin/env bash
# Builds the settings-reader fuzz target with clang's libFuzzer and runs it for a bounded time.
# Usage: run_fuzz.sh BUILD_DIR SECONDS. Exits non-zero when the target crashes or a check fails.
set -euo pipefail

build_dir=${1:?usage: run_fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build_dir/settings-fuzz"
work=$(cd "$build_dir/settings-fuzz" && pwd)
# A fresh corpus each run keeps the run bounded and its figure comparable between runs.
rm -rf "$work/corpus" "$work/artifacts"
mkdir -p "$work/generated" "$work/corpus" "$work/artifacts"

# The reader needs no host values; a header of its own keeps this independent of any CMake build.
sed -e 's/@MERVASTX_FORM_EMAIL@/pager@example.com/' -e 's/@MERVASTX_HOST_[A-Z]*@/localhost/' \
    "$root/cmake/carrier_hosts.h.in" > "$work/generated/carrier_hosts.h"

clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" -I"$work/generated" \
    "$root/tests/fuzz/settings_fuzz.cpp" "$root/contacts/contact_table.cpp" "$root/contacts/settings.cpp" \
    "$root/gateway/carriers.cpp" "$root/common/text.cpp" -o "$work/settings_fuzz"

printf 'CONTACTS\r\nAnn:5551234567:V:\r\nAl:123:M:\r\nAnna:5559876543:3:\r\nUSER DETAILS\r\nSam:5550001111:' \
    > "$work/corpus/seed-contacts"
printf 'CONTACTS\r\nUSER DETAILS\r\n::' > "$work/corpus/seed-empty"
printf 'CONTACTS\nBob::V:\n:5551234567:0:\nUSER DETAILS\n:5550001111:' > "$work/corpus/seed-lf"

status=0
"$work/settings_fuzz" -max_total_time="$seconds" -timeout=25 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" > "$work/fuzz.log" 2>&1 || status=$?

inputs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/fuzz.log")
if [ "$status" -ne 0 ]; then
    tail -n 40 "$work/fuzz.log"
    echo "settings fuzz: FAILED (exit $status) after ${inputs:-?} inputs; artifacts in $work/artifacts" >&2
    exit "$status"
fi
echo "settings fuzz: ${inputs:-?} inputs run in $seconds s, no failure"
