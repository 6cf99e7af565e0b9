#!/usr/bin/env bash
# The C# binding under Mono. By default the data path: the per-sample
# handler against the sample ring, at 10 kHz x 8 channels and 80 kHz x 64
# channels, from vexa-sim on a pseudo-terminal. With "age" first: the age of
# the data a game reads once per 16 ms frame, on the built-in simulated
# device with its clock pattern. Needs the bench preset built:
#   cmake --preset bench && cmake --build --preset bench
# Usage: bench/run-unity-bench.sh [age] [SECONDS_PER_CASE (default 30) [BUILD_DIR (default build/bench)]]
set -euo pipefail
cd "$(dirname "$0")/.."
mode=data
if [ "${1:-}" = age ]; then
  mode=age
  shift
fi
seconds=${1:-30}
build=${2:-build/bench}
source scripts/ensure-packages.sh
ensure_packages mono-mcs mono-runtime

lib=$build/vexa_unity_interface
sim=$build/cpp_project/sim/vexa-sim
needed=("$lib/libvexa_unity_interface.so")
[ "$mode" = data ] && needed+=("$sim")
for file in "${needed[@]}"; do
  [ -e "$file" ] || { echo "$file is missing: build the bench preset" >&2; exit 1; }
done
out=$build/unity-bench
mkdir -p "$out"
mcs -langversion:7.2 -optimize+ -nologo -target:library -out:"$out/Vexa.dll" unity/Runtime/*.cs
lib=$(cd "$lib" && pwd)
if [ "$mode" = age ]; then
  mcs -langversion:7.2 -optimize+ -nologo -target:exe -r:"$out/Vexa.dll" -out:"$out/AgeBench.exe" \
    bench/unity/AgeBench.cs bench/unity/FdWriter.cs
  cd "$out"
  LD_LIBRARY_PATH="$lib" mono AgeBench.exe "$seconds"
  exit
fi
mcs -langversion:7.2 -optimize+ -nologo -target:exe -r:"$out/Vexa.dll" -out:"$out/UnityBench.exe" bench/unity/UnityBench.cs \
  bench/unity/FdWriter.cs
sim=$(cd "$(dirname "$sim")" && pwd)/vexa-sim
cd "$out"
LD_LIBRARY_PATH="$lib" mono UnityBench.exe "$sim" "$seconds"
