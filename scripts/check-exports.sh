#!/usr/bin/env bash
# Compares the plug-in's exported names with vexa_unity_interface/exports.txt.
# Usage: check-exports.sh LIBRARY (a .so or a .dll)
set -euo pipefail
lib=$1
expected=$(dirname "$0")/../vexa_unity_interface/exports.txt
case "$lib" in
  *.dll)
    actual=$(x86_64-w64-mingw32-objdump -p "$lib" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort) ;;
  *)
    actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort) ;;
esac
# Lines starting with # head the list's sections.
if ! diff <(echo "$actual") <(grep -E '^[A-Za-z_]' "$expected" | sort); then
  echo "exports of $lib differ from exports.txt (< built, > expected)" >&2
  exit 1
fi
echo "exports of $(basename "$lib") match: $(echo "$actual" | wc -l) names"
