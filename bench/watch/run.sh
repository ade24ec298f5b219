#!/usr/bin/env bash
# The page check benchmarks: one link at a time, then the parallel run.
# $1: the release build directory. The data files go to a scratch directory
# inside it, on the same disk as the build, removed at the end; nginx serves
# its pages from /tmp.
set -euo pipefail
build=$(cd "${1:?usage: bench/watch/run.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d "$build/import-bench.XXXXXX")
"$build/bench/watch/import_yaml" "$scratch" || status=$?
rm -rf "$scratch"
[ -x /usr/sbin/nginx ] || { echo "watch bench: nginx-light is missing (scripts/install-deps)"; exit 1; }
work=$(mktemp -d "$build/watch-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/watch/check_all" "$work"
"$build/bench/watch/check_run" "$work"
"$build/bench/watch/check_modes" "$work"
exit "${status:-0}"
