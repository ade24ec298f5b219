#!/usr/bin/env bash
# The comparison benchmarks. $1: the release build directory. The extracted
# texts for GNU diff go to a scratch directory inside it, removed at the end.
set -euo pipefail
build=$(cd "${1:?usage: bench/compare/run.sh BUILD_DIR}" && pwd)
command -v diff >/dev/null || { echo "compare bench: diff is missing (diffutils)"; exit 1; }
work=$(mktemp -d "$build/compare-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/compare/compare_bench" "$work"
"$build/bench/compare/part_bench"
if [ -x "$build/bench/compare/window_bench" ]; then
  QT_QPA_PLATFORM=offscreen "$build/bench/compare/window_bench" 2>/dev/null
fi
