#!/usr/bin/env bash
# The history benchmarks. $1: the release build directory. Scratch files go
# to a directory inside it, removed at the end; nginx serves from /tmp.
# HISTORY_BENCH_LARGE=0 leaves out the run over 2,000 links (400 MB file).
set -euo pipefail
build=$(cd "${1:?usage: bench/history/run.sh BUILD_DIR}" && pwd)
[ -x /usr/sbin/nginx ] || { echo "history bench: nginx-light is missing (scripts/install-deps)"; exit 1; }
work=$(mktemp -d "$build/history-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/history/history_bench" "$work" "${HISTORY_BENCH_LARGE:-1}"
