#!/usr/bin/env bash
# Builds the reference of the plug-in's C interface and the device library's
# public headers into build/docs/html. Any Doxygen warning fails the build,
# so an undocumented or mis-documented declaration cannot slip in.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages doxygen

out=build/docs
rm -rf "$out"
mkdir -p "$out"
log="$out/warnings.log"
status=0
VEXA_DOCS_OUT="$out" doxygen docs/Doxyfile 2>"$log" || status=$?
# The Doxyfile already fails on warnings; the log check also catches
# messages that do not count as warnings.
if [ "$status" -ne 0 ] || [ -s "$log" ]; then
  cat "$log" >&2
  echo "build-docs: Doxygen reported problems (exit status $status)" >&2
  exit 1
fi
rm -f "$log"
echo "Documentation: $out/html/index.html"
