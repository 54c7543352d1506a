#!/usr/bin/env bash
# Builds one Windows Installer package with wixl from a staged folder (wixl finds the files a package names in
# its working folder), then applies the package's NAME.sql beside its NAME.wxs: what wixl 0.101 cannot write.
# Usage: build_msi.sh WXS STAGE VERSION OUTPUT
set -euo pipefail
wxs=$(realpath "$1") stage=$2 version=$3 output=$(realpath -m "$4")
rm -f "$output"
(cd "$stage" && wixl -a x86 -D Version="$version" -o "$output" "$wxs")
fixes="${wxs%.wxs}.sql"
if [ -f "$fixes" ]; then
  while IFS= read -r query; do
    [[ -z "$query" || "$query" == --* ]] && continue
    msibuild "$output" -q "$query"
  done <"$fixes"
fi
