#!/usr/bin/env bash
# Connection layer benchmarks: ReadStream against a plain recv loop over the
# same loopback transfer, ReadLn against a plain memchr scan of the same bytes.
set -euo pipefail
build=${1:?usage: run.sh RELEASE_BUILD_DIR}
"$build/bench/net/bench_net_readstream"
"$build/bench/net/bench_net_readln"
