#!/usr/bin/env bash
# Interrupt latency on an idle simulated device: natively on Linux, then the
# Windows build under Wine. Needs the bench and windows presets built:
#   cmake --preset bench && cmake --build --preset bench
#   cmake --preset windows && cmake --build --preset windows
set -euo pipefail
cd "$(dirname "$0")/.."
sim=build/bench/cpp_project/sim/vexa-sim
work=$(mktemp -d)
sim_pid=
trap 'kill $sim_pid 2>/dev/null; WINEPREFIX=$work/prefix wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/hold"
exec {hold}<>"$work/hold"

exec {out}< <(exec "$sim" --family current <"$work/hold")
sim_pid=$!
read -r port <&"$out"
echo "Linux:   $(LD_LIBRARY_PATH=build/bench/vexa_unity_interface build/bench/bench/vexa_interrupt_bench "$port" 20 | grep "^interrupt")"

export WINEPREFIX=$work/prefix WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
ln -sfn "${port#COM}" "$WINEPREFIX/dosdevices/com5"
cp build/windows/bench/vexa_interrupt_bench.exe build/windows/vexa_unity_interface/vexa_unity_interface.dll "$work/"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
echo "Wine:    $(cd "$work" && "$wine" vexa_interrupt_bench.exe COM5 20 | grep "^interrupt")"
