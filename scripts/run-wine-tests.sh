#!/usr/bin/env bash
# Runs the Windows DLL for real under Wine: a Windows test host loads
# vexa_unity_interface.dll and drives it against the simulator, which runs
# natively on a pseudo-terminal that the Wine prefix sees as a COM port.
# Laid out as a Unity player is: the plug-in (and the FTDI libraries beside
# it) in <Game>_Data/Plugins/x86_64, neither the program's folder nor the
# current directory, where Windows' search for a bare name never looks.
# Usage: run-wine-tests.sh [WINDOWS_BUILD_DIR [NATIVE_BUILD_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages wine wine64

windows=${1:-build/windows}
native=${2:-build/default}
sim=$native/cpp_project/sim/vexa-sim
dll=$windows/vexa_unity_interface/vexa_unity_interface.dll
host=$windows/vexa_unity_interface/tests/windows_host/windows_host.exe
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
plugins=$work/Game_Data/Plugins/x86_64
mkdir -p "$plugins" "$work/project"
cp "$host" "$work/"
cp "$dll" "$plugins/"
# The plug-in's path as Windows sees it (Wine's Z: is the root).
plugin="Z:$(printf '%s' "$plugins/vexa_unity_interface.dll" | tr / '\\')"
host_run() { (cd "$work/project" && "$wine" "$work/windows_host.exe" "$plugin" "$@"); }

# The simulator serves until its standard input closes: hold a fifo open.
mkfifo "$work/hold"
exec {hold}<>"$work/hold"

status=0
for family in current cadrium quillbox; do
  echo "--- $family device"
  exec {sim_out}< <(exec "$sim" --family "$family" <"$work/hold")
  sim_pid=$!
  read -r -t 10 port <&"$sim_out"
  # The pseudo-terminal becomes COM5 for every program in the prefix.
  ln -sfn "${port#COM}" "$WINEPREFIX/dosdevices/com5"
  host_run COM5 "$family" || status=1
  kill "$sim_pid" 2>/dev/null || true
  sim_pid=
  exec {sim_out}<&-
done

echo "--- USB device behind the fake FTDI libraries beside the plug-in"
cp "$windows"/fake_ftdi/*.dll "$plugins/"
host_run - usb || status=1
echo "--- USB without LibFT4222-64.dll"
rm "$plugins/LibFT4222-64.dll"
host_run - usb-missing || status=1
exit $status
