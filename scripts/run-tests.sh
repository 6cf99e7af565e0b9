#!/usr/bin/env bash
# The whole test suite: native build and tests, the documentation (warnings
# are errors), the C# binding under Mono, the same native tests under
# AddressSanitizer with UndefinedBehaviorSanitizer, a short run of every fuzz
# target with its kept regression inputs, the threaded tests under
# ThreadSanitizer, the Windows cross-build, the Unity package packed and
# checked, and the Windows DLL run under Wine. Each configuration is built
# once; the sanitizer builds build the test programs only.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${VEXA_BUILD_PACKAGES[@]}" libedf-dev g++-mingw-w64-x86-64 mono-mcs mono-runtime wine wine64 clang \
  libclang-rt-14-dev

# Each step's heading says how long the run has taken so far.
step() { printf '\n=== %s (at %d:%02d)\n' "$*" $((SECONDS / 60)) $((SECONDS % 60)); }
# The tests spend their time waiting on simulated devices' clocks, not
# computing: four run at once per core.
test_jobs=$((4 * $(nproc)))

step "native build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -- -j2
ctest --preset default -j"$test_jobs"
scripts/check-exports.sh build/default/vexa_unity_interface/libvexa_unity_interface.so

step "documentation (warnings are errors)"
scripts/build-docs.sh

step "C# binding under Mono"
scripts/run-mono-tests.sh build/default

# One clang build serves both: the test programs and the fuzz targets.
step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target vexa_tests vexa_fuzz -- -j2
ctest --preset sanitize -j"$test_jobs"

step "fuzz targets, 8 s each, one per core at a time"
VEXA_FUZZ_NO_BUILD=1 VEXA_FUZZ_BUILD=build/sanitize scripts/fuzz.sh 8

step "ThreadSanitizer (threaded tests)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target vexa_sim_tests vexa_integration_tests vexa_ble_tests vexa_usb_tests \
  vexa_unity_tests -- -j2
ctest --preset tsan -j"$test_jobs" -L threads

step "Windows x86-64 cross-build"
cmake --preset windows >/dev/null
cmake --build --preset windows -- -j2
scripts/check-exports.sh build/windows/vexa_unity_interface/vexa_unity_interface.dll

step "Unity package"
tarball=$(scripts/pack-unity-package.sh)
scripts/check-unity-package.sh "$tarball"

step "The Windows DLL under Wine"
scripts/run-wine-tests.sh build/windows build/default

step "all passed"
