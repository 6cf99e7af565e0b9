#!/usr/bin/env bash
# The C# binding's data path under Mono: the per-sample handler against the
# sample ring, at 10 kHz x 8 channels and 80 kHz x 64 channels, from vexa-sim
# on a pseudo-terminal. Needs the bench preset built:
#   cmake --preset bench && cmake --build --preset bench
# Usage: bench/run-unity-bench.sh [SECONDS_PER_CASE (default 30) [BUILD_DIR (default build/bench)]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${2:-build/bench}
source scripts/ensure-packages.sh
ensure_packages mono-mcs mono-runtime

lib=$build/vexa_unity_interface
sim=$build/cpp_project/sim/vexa-sim
for needed in "$lib/libvexa_unity_interface.so" "$sim"; do
  [ -e "$needed" ] || { echo "$needed is missing: build the bench preset" >&2; exit 1; }
done
out=$build/unity-bench
mkdir -p "$out"
mcs -langversion:7.2 -optimize+ -nologo -target:library -out:"$out/Vexa.dll" unity/Runtime/*.cs
mcs -langversion:7.2 -optimize+ -nologo -target:exe -r:"$out/Vexa.dll" -out:"$out/UnityBench.exe" bench/unity/UnityBench.cs \
  vexa_unity_interface/csharp/Tests/FdWriter.cs
sim=$(cd "$(dirname "$sim")" && pwd)/vexa-sim
lib=$(cd "$lib" && pwd)
cd "$out"
LD_LIBRARY_PATH="$lib" mono UnityBench.exe "$sim" "$seconds"
