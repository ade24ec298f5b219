#!/usr/bin/env bash
# Table engine benchmarks. $1: the release build directory. The files go to a
# scratch directory inside it, on the same disk as the build, removed at the end.
set -euo pipefail
build=$(cd "${1:?usage: bench/mlb/run.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "$build/mlb-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/mlb/mlb_file_bench" "$work"
"$build/bench/mlb/mlb_search_bench"
