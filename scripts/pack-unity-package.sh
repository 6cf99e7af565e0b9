#!/usr/bin/env bash
# Packs the Unity package: builds the Linux (default preset) and Windows
# (windows preset, MinGW-w64) plug-ins, stages unity/ with both in
# build/unity-package/Runtime/Plugins/x86_64/, stamps the version from VERSION
# and writes dist/com.vexa.devices-<version>.tgz. Prints the tarball's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/ensure-packages.sh
ensure_packages "${VEXA_BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64 binutils
# npm may come with a nodejs that is not Debian's, which conflicts with its npm.
command -v npm >/dev/null || ensure_packages npm

version=$(head -n 1 VERSION)
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "VERSION holds '$version', not major.minor.patch" >&2
  exit 1
fi

for preset in default windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target vexa_unity_interface -- -j2 >&2
done

stage=build/unity-package
plugins="$stage/Runtime/Plugins/x86_64"
rm -rf "$stage"
mkdir -p build
cp -R unity "$stage"
cp build/windows/vexa_unity_interface/vexa_unity_interface.dll "$plugins/"
# The Linux build keeps its debug information in the build tree; the shipped
# copy drops it (the exported names stay).
strip --strip-debug -o "$plugins/libvexa_unity_interface.so" \
  build/default/vexa_unity_interface/libvexa_unity_interface.so

(cd "$stage" && npm pkg set "version=$version")

mkdir -p dist
tarball="dist/com.vexa.devices-$version.tgz"
rm -f "$tarball"
# Packing a local folder needs no registry; no update check either.
(cd dist && NPM_CONFIG_UPDATE_NOTIFIER=false npm pack --ignore-scripts --silent "$root/$stage" >/dev/null)
[ -f "$tarball" ] || { echo "npm pack did not write $tarball" >&2; exit 1; }
echo "$root/$tarball"
