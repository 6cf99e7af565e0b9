#!/usr/bin/env bash
# The C# binding's tests under Mono, against a built plug-in and simulator.
# Usage: scripts/run-mono-tests.sh BUILD_DIR [VEXA_SIM] [-- TEST ARGS...]
#   BUILD_DIR  a CMake build of the targets vexa_unity_interface and vexa-sim
#   VEXA_SIM   the simulator (default: the VEXA_SIM variable, else
#              BUILD_DIR/cpp_project/sim/vexa-sim)
# Test args go to the test program, e.g. -- --filter StartMask
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [VEXA_SIM] [-- TEST ARGS...]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
shift
sim="${VEXA_SIM:-$build/cpp_project/sim/vexa-sim}"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  sim="$1"
  shift
fi
[ $# -gt 0 ] && [ "$1" = "--" ] && shift

source "$root/scripts/ensure-packages.sh"
ensure_packages mono-mcs mono-runtime

lib="$build/vexa_unity_interface"
for needed in "$lib/libvexa_unity_interface.so" "$sim"; do
  if [ ! -e "$needed" ]; then
    echo "$needed is missing: build the targets vexa_unity_interface and vexa-sim" >&2
    exit 1
  fi
done

# The binding (the Unity package's Runtime folder) compiles on its own, as
# Unity compiles its assembly; the tests reference it like any script. mcs
# stops at C# 7.2, within Unity's 7.3.
out="$build/csharp-tests"
mkdir -p "$out"
mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:library -out:"$out/Vexa.dll" "$root"/unity/Runtime/*.cs
mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:exe -r:"$out/Vexa.dll" -out:"$out/VexaTests.exe" \
  "$root"/vexa_unity_interface/csharp/Tests/*.cs

cd "$out"
VEXA_EXPORTS="$root/vexa_unity_interface/exports.txt" LD_LIBRARY_PATH="$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono --debug VexaTests.exe "$sim" "$@"
