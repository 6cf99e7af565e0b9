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
ensure_packages "${VEXA_MONO_PACKAGES[@]}"

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

# The Unity-like host: embeds Mono, keeps the plug-in loaded and unloads
# child domains around script-like scenarios, as the editor does.
host_src="$root/vexa_unity_interface/tests/mono_host"
mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:library -r:"$out/Vexa.dll" -out:"$out/Scripts.dll" \
  "$host_src"/Scripts.cs
cc -std=gnu11 -O1 -g -Wall -Wextra -Werror -I"$root/vexa_unity_interface/include" -o "$out/vexa-mono-host" \
  "$host_src/mono_host.c" $(pkg-config --cflags --libs mono-2) -ldl -lpthread
# The library traces its callbacks on standard output; the host reports on
# standard error.
(cd "$out" && ./vexa-mono-host "$lib/libvexa_unity_interface.so" "$out" >/dev/null)

# The component and the sample need Unity: they are compiled against a
# stand-in of the UnityEngine and UnityEditor types they use, the way Unity
# compiles them: in the editor (UNITY_EDITOR) and for a player. The tests
# run the player variant, the component included, on that stand-in.
standin="$root/vexa_unity_interface/csharp/UnityStandIn"
mcs -langversion:7.2 -nologo -target:library -out:"$out/UnityEngine.dll" "$standin/UnityEngine.cs"
mcs -langversion:7.2 -nologo -target:library -out:"$out/UnityEditor.dll" "$standin/UnityEditor.cs"
# A player build has no UnityEditor: only the editor variant may reference it.
for variant in editor player; do
  defines=UNITY_5_3_OR_NEWER refs=-r:"$out/UnityEngine.dll"
  [ $variant = editor ] && defines="$defines;UNITY_EDITOR" refs="$refs -r:$out/UnityEditor.dll"
  mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:library -define:"$defines" $refs \
    -out:"$out/Vexa.Unity.dll" $(find "$root/unity/Runtime" -name '*.cs' | sort)
  mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:library -define:"$defines" $refs \
    -r:"$out/Vexa.Unity.dll" -out:"$out/LiveSignal.dll" "$root"/unity/Samples~/LiveSignal/*.cs
  echo "compiled for a Unity $variant: the runtime, its component and the LiveSignal sample"
done
mcs -langversion:7.2 -warn:4 -warnaserror+ -nologo -target:exe -r:"$out/Vexa.Unity.dll" -r:"$out/UnityEngine.dll" \
  -out:"$out/VexaTests.exe" "$root"/vexa_unity_interface/csharp/Tests/*.cs

cd "$out"
VEXA_EXPORTS="$root/vexa_unity_interface/exports.txt" LD_LIBRARY_PATH="$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono --debug VexaTests.exe "$sim" "$@"
