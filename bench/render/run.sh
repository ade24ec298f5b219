#!/usr/bin/env bash
# The JavaScript link benchmark: 20 links loaded in the browser by the run,
# beside 20 `chromium --headless --dump-dom` calls, with the peak memory.
# $1: the release build directory; the scratch files go inside it.
set -euo pipefail
build=$(cd "${1:?usage: bench/render/run.sh BUILD_DIR}" && pwd)
[ -x /usr/sbin/nginx ] || { echo "render bench: nginx-light is missing (scripts/install-deps)"; exit 1; }
work=$(mktemp -d "$build/render-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/render/render_bench" "$work"
