#!/usr/bin/env bash
# The window benchmarks. $1: the release build directory; the data file and
# the settings go to a scratch directory inside it, removed at the end.
set -euo pipefail
build=$(cd "${1:?usage: bench/app/run.sh BUILD_DIR}" && pwd)
[ -x "$build/bench/app/filter_list" ] || { echo "app bench: built without the application"; exit 0; }
work=$(mktemp -d "$build/app-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/app/filter_list" "$work"
