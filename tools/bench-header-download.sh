#!/usr/bin/env bash
# Header download benchmark against the project's INN on 127.0.0.1:119: generates groups of
# 10,000 and 100,000 articles (about 1.5 KB each), loads them by streaming into fresh groups and
# runs bench_header_download on them (loopback, then through a proxy adding 10 ms each way),
# then once more against a server that answers from memory, to show the client's own limit.
#
#   tools/bench-header-download.sh BUILD_DIR [COUNT...]     (default counts: 10000 100000)
#
# The groups stay on the server (tools/inn.sh reset empties it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [COUNT...]}
shift
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000)
bench="$build/tests/nntp/bench_header_download"
[ -x "$bench" ] || { echo "no $bench: build the target bench_header_download" >&2; exit 1; }

"$here/inn.sh" start
groups=()
for n in "${counts[@]}"; do
    # Tens of thousands of small files: on tmpfs when there is one.
    if [ -d /dev/shm ]; then dir=$(mktemp -d -p /dev/shm); else dir=$(mktemp -d); fi
    trap 'rm -rf "$dir"' EXIT
    group="quillo.bench.n$n.t$(date +%s)"
    python3 "$here/bench-make-articles.py" "$n" "$dir"
    start=$(date +%s.%N)
    "$here/inn.sh" load --group "$group" "$dir"
    echo "loaded $n articles into $group in $(echo "$(date +%s.%N) - $start" | bc) s" >&2
    rm -rf "$dir"
    trap - EXIT
    groups+=("$group")
done
"$bench" "${groups[@]}"
# The client alone, against a server answering from memory.
"$bench" --canned "${counts[-1]}"
