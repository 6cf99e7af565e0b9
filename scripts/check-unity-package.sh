#!/usr/bin/env bash
# Checks a packed Unity package (scripts/pack-unity-package.sh): its layout,
# package.json, a .meta with a unique GUID beside every imported file and
# folder, each plug-in imported for its own platform only, the exports of both
# libraries and the Linux library's glibc floor.
# Usage: check-unity-package.sh TARBALL
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 TARBALL" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
tarball="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xzf "$tarball" -C "$work"
cd "$work/package"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

x86=Runtime/Plugins/x86_64
for f in package.json README.md CHANGELOG.md LICENSE.md Runtime/Vexa.Runtime.asmdef Runtime/VexaDevice.cs \
  Runtime/VexaNative.cs $x86/vexa_unity_interface.dll $x86/libvexa_unity_interface.so; do
  [ -f "$f" ] || fail "$f is missing"
done
# The licences of what the DLL links statically go with it.
[ -f "Third Party Notices.md" ] || fail "Third Party Notices.md is missing"

# Unity imports everything outside folders ending in "~"; each needs its .meta
# and no .meta may lack its asset.
while IFS= read -r path; do
  case "$path" in
    *.meta) [ -e "${path%.meta}" ] || fail "$path has no asset" ;;
    *) [ -f "$path.meta" ] || fail "$path has no .meta" ;;
  esac
done < <(find . -mindepth 1 -name '*~' -prune -o -print | sed 's|^\./||')

guids=$(find . -name '*.meta' -exec sed -n 's/^guid: //p' {} +)
[ "$(echo "$guids" | grep -cE '^[0-9a-f]{32}$')" -eq "$(find . -name '*.meta' | wc -l)" ] ||
  fail "a .meta lacks a GUID of 32 hex digits"
dups=$(echo "$guids" | sort | uniq -d)
[ -z "$dups" ] || fail "GUIDs used twice: $dups"

version=$(head -n 1 "$root/VERSION")
field() { node -e 'const p = require(process.argv[1]); console.log(p[process.argv[2]])' "$1" "$2"; }
[ "$(field "$PWD/package.json" version)" = "$version" ] || fail "the packed version is not VERSION's $version"
[ "$(field "$root/unity/package.json" version)" = "$version" ] ||
  fail "unity/package.json's version is not VERSION's $version"
[ "$(field "$PWD/package.json" name)" = com.vexa.devices ] || fail "package name is not com.vexa.devices"
[ "$(field "$PWD/package.json" unity)" = 2021.3 ] || fail "minimum Unity is not 2021.3"

# The platforms a plug-in .meta enables, one line each with its CPU and OS.
enabled_platforms() {
  awk 'function flush() { if (p != "" && on == 1) print p, cpu (os == "" ? "" : " " os); p = "" }
       /^  - first:/ { flush(); getline; sub(/^ +/, ""); p = $0; on = 0; cpu = os = ""; next }
       /^      enabled:/ { on = $2 }
       /^        CPU:/ { cpu = $2 }
       /^        OS:/ { os = $2 }
       /^  [A-Za-z]/ { flush() }
       END { flush() }' "$1"
}
expect_platforms() {
  local actual
  actual=$(enabled_platforms "$x86/$1.meta")
  [ "$actual" = "$2" ] || fail "$1 is imported for: ${actual:-nothing}; expected: $2"
}
expect_platforms vexa_unity_interface.dll $'Editor: Editor x86_64 Windows\nStandalone: Win64 x86_64'
expect_platforms libvexa_unity_interface.so $'Editor: Editor x86_64 Linux\nStandalone: Linux64 x86_64'

"$root/scripts/check-exports.sh" "$x86/vexa_unity_interface.dll" || fail "exports of the DLL"
"$root/scripts/check-exports.sh" "$x86/libvexa_unity_interface.so" || fail "exports of the .so"
"$root/scripts/check-glibc-floor.sh" "$x86/libvexa_unity_interface.so" || fail "glibc floor of the .so"

if [ $failures -ne 0 ]; then
  echo "$(basename "$tarball"): $failures failed check(s)" >&2
  exit 1
fi
echo "$(basename "$tarball"): layout, package.json, metas, exports and glibc floor are right"
