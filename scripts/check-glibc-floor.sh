#!/usr/bin/env bash
# Fails if a Linux library needs a newer glibc or C++ runtime than the oldest
# systems the Unity package promises (glibc 2.34 and GCC 12's libstdc++,
# Ubuntu 22.04 and Debian 12; the package README states the same floor).
# Usage: check-glibc-floor.sh LIBRARY.so
set -euo pipefail
lib=$1
declare -A floor=([GLIBC]=2.34 [GLIBCXX]=3.4.30)
needed=$(objdump -T "$lib" | grep -oE '\b(GLIBC|GLIBCXX)_[0-9][0-9.]*' | sort -u)
[ -n "$needed" ] || { echo "$lib needs no GLIBC_ version: not a glibc library?" >&2; exit 1; }
status=0
for prefix in GLIBC GLIBCXX; do
  newest=$(echo "$needed" | sed -n "s/^${prefix}_//p" | sort -V | tail -n 1)
  if [ -n "$newest" ] && [ "$(printf '%s\n' "$newest" "${floor[$prefix]}" | sort -V | tail -n 1)" != "${floor[$prefix]}" ]; then
    echo "$(basename "$lib") needs ${prefix}_$newest, newer than the floor ${prefix}_${floor[$prefix]}" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "$(basename "$lib") loads on GLIBC_${floor[GLIBC]} and GLIBCXX_${floor[GLIBCXX]}"
exit $status
