#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer), replays every kept regression input, then
# fuzzes each target for SECONDS (default 5) from its seed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# TARGET names a target without its vexa_fuzz_ prefix (default: all).
# VEXA_FUZZ_RUNS=N also stops a target after N executions;
# VEXA_FUZZ_NO_BUILD=1 uses the build that is there; VEXA_FUZZ_BUILD=DIR
# takes the targets from another build that has them (the sanitize preset
# does). New corpus entries go to DIR/corpus/<target>, findings to
# DIR/findings/<target> (DIR: build/fuzz by default).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${VEXA_BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

seconds="${1:-5}"
shift || true
fuzz_dir=cpp_project/fuzz
build_dir=${VEXA_FUZZ_BUILD:-build/fuzz}
bin_dir=$build_dir/cpp_project/fuzz
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=(message_reader packet_reader event_builder frame_decoder old_frames compact_board version_lines
    start_commands bgapi_reader exports)
fi

if [ -z "${VEXA_FUZZ_NO_BUILD:-}" ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target vexa_fuzz -- -j2
fi

# A quarantine far larger than one execution frees still catches every use
# after free within it; the default's constant fresh pages cost a third of
# the speed.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
# Fuzzes target $1; its one-line result goes to its findings folder's
# result file, "ok ..." when it passed.
fuzz_one() {
  local t=$1
  local exe="$bin_dir/vexa_fuzz_$t"
  local work="$build_dir/corpus/$t"
  local findings="$build_dir/findings/$t"
  mkdir -p "$work" "$findings"
  # Every input that once failed must pass now.
  local regressions
  mapfile -t regressions < <(find "$fuzz_dir/regressions/$t" -type f 2>/dev/null | sort)
  if [ ${#regressions[@]} -gt 0 ] && ! "$exe" "${regressions[@]}" >"$findings/replay.log" 2>&1; then
    echo "vexa_fuzz_$t: a regression input fails again (see $findings/replay.log)" >"$findings/result"
    return
  fi
  local runs=()
  [ -n "${VEXA_FUZZ_RUNS:-}" ] && runs=(-runs="$VEXA_FUZZ_RUNS")
  if ! "$exe" "$work" "$fuzz_dir/corpus/$t" -max_total_time="$seconds" "${runs[@]}" \
      -max_len=512 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$findings/fuzz.log" 2>&1; then
    echo "vexa_fuzz_$t: finding in $findings (see $findings/fuzz.log)" >"$findings/result"
    return
  fi
  echo "ok vexa_fuzz_$t: $(grep -E '^#[0-9]+.*DONE' "$findings/fuzz.log" | tail -1)" >"$findings/result"
}

# One target per core at a time: each runs on one thread.
for t in "${targets[@]}"; do
  rm -f "$build_dir/findings/$t/result"
  # A target that died without a result is reported below, not here.
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz_one "$t" &
done
wait
passed=0
failed=0
for t in "${targets[@]}"; do
  result=$(cat "$build_dir/findings/$t/result" 2>/dev/null || echo "vexa_fuzz_$t: did not finish")
  echo "${result#ok }"
  if [ "${result#ok }" != "$result" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
