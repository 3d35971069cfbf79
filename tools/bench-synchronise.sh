#!/usr/bin/env bash
# Synchronisation benchmark against the project's INN on 127.0.0.1:119: generates COUNT articles
# of about 3 KB (default 1,000), loads them into a fresh group and runs bench_synchronise on it:
# one ARTICLE at a time and pipelined, on loopback and through a proxy adding 20 ms of round
# trip (10 ms each way). The machine's load is printed before and after.
#
#   tools/bench-synchronise.sh BUILD_DIR [COUNT] [bench_synchronise options...]
#
# The group stays on the server (tools/inn.sh reset empties it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [COUNT] [options...]}
shift
count=${1:-1000}
[ $# -gt 0 ] && shift
bench="$build/tests/nntp/bench_synchronise"
[ -x "$bench" ] || { echo "no $bench: build the target bench_synchronise" >&2; exit 1; }

"$here/inn.sh" start
dir=$(mktemp -d)
# Thousands of cache files are made and removed per run: on tmpfs when there is one, so the file
# system's bookkeeping for deleted files does not stand in for the network.
[ -d /dev/shm ] && export TMPDIR=${TMPDIR:-/dev/shm}
trap 'rm -rf "$dir"' EXIT
group="quillo.bench.sync$count.t$(date +%s)"
python3 "$here/bench-make-articles.py" "$count" "$dir" --size 3000
"$here/inn.sh" load --group "$group" "$dir"
echo "load before: $(uptime)"
"$bench" "$@" "$group"
echo "load after:  $(uptime)"
