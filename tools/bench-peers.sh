#!/usr/bin/env bash
# Where users wait, side by side with slrn from Debian: loads fresh groups of 10,000 and 100,000
# articles into the project's INN (tools/inn.sh) and, on loopback and through a proxy adding
# 10 ms each way, times
#   window  "更新" in the real main window (offscreen), through the window's own progress path:
#           until the header tree shows every header ("tree shown") and until the operation
#           ends with Content-Type completed ("whole op");
#   core    the core's download alone (bench_header_download --once --overview);
#   slrn    slrn entering the same group, driven through tmux: from the key that enters the group
#           until its article list shows;
# then the HEAD path (a server without an overview) through the window against the core, the
# header tree fill of 100,000 headers (time, peak RSS) and a 5 MB plain-text article (first
# screen, whole article laid out). Prints medians of RUNS runs and the machine's load.
#
#   tools/bench-peers.sh BUILD_DIR [--runs N] [--groups G10K,G100K] [COUNT...]
#
# slrn and tmux are installed from Debian when missing. The groups stay on the server; --groups
# reuses groups loaded by an earlier run (their sizes in COUNT order).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [--runs N] [--groups G,G] [COUNT...]}" && pwd)
shift
runs=3
given_groups=""
counts=()
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --groups) given_groups=$2; shift 2 ;;
    *) counts+=("$1"); shift ;;
    esac
done
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000)

window="$build/tests/app/bench_window"
core="$build/tests/nntp/bench_header_download"
proxy_bin="$build/tests/nntp/bench_delay_proxy"
for b in "$window" "$core" "$proxy_bin"; do
    [ -x "$b" ] || { echo "no $b: build bench_window, bench_header_download, bench_delay_proxy" >&2; exit 1; }
done
if ! command -v slrn >/dev/null || ! command -v tmux >/dev/null; then
    apt-get install -y slrn tmux >/dev/null 2>&1 || { apt-get update >/dev/null && apt-get install -y slrn tmux >/dev/null; }
fi
# Started only when it is not running: a start may restart a server other work relies on.
"$here/inn.sh" status >/dev/null 2>&1 || "$here/inn.sh" start >/dev/null

work=$(mktemp -d)
proxy_pid=""
cleanup() {
    tmux kill-session -t quillo-bench-slrn 2>/dev/null || true
    [ -z "$proxy_pid" ] || kill "$proxy_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# ---- the groups ----
groups=()
if [ -n "$given_groups" ]; then
    IFS=, read -r -a groups <<<"$given_groups"
else
    for n in "${counts[@]}"; do
        if [ -d /dev/shm ]; then dir=$(mktemp -d -p /dev/shm); else dir=$(mktemp -d); fi
        group="quillo.bench.peers.n$n.t$(date +%s)"
        python3 "$here/bench-make-articles.py" "$n" "$dir"
        "$here/inn.sh" load --group "$group" "$dir" >&2
        rm -rf "$dir"
        groups+=("$group")
    done
fi

# ---- the proxy: 10 ms each way ----
mkfifo "$work/proxy-in"
"$proxy_bin" 119 10 <"$work/proxy-in" >"$work/proxy-port" &
proxy_pid=$!
exec 9>"$work/proxy-in"
for _ in $(seq 50); do [ -s "$work/proxy-port" ] && break; sleep 0.1; done
proxy_port=$(cat "$work/proxy-port")

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
median() { sort -g | awk '{a[NR]=$1} END {if (NR == 0) print "nan"; else if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
range() { sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.3f-%.3f", lo, hi}'; }
load() { cut -d' ' -f1 /proc/loadavg; }

# slrn entering the group through port: seconds from the key to the article list.
slrn_time() {
    local group=$1 port=$2 home="$work/slrn-home"
    rm -rf "$home"
    mkdir -p "$home"
    echo "$group:" >"$home/.jnewsrc"
    cat >"$home/.slrnrc" <<EOF
set hostname "bench.example.org"
set username "bench"
set realname "Bench"
set query_read_group_cutoff 0
set confirm_actions 0
set read_active 0
set use_color 0
EOF
    tmux kill-session -t quillo-bench-slrn 2>/dev/null || true
    tmux new-session -d -s quillo-bench-slrn -x 160 -y 40 \
        "HOME=$home slrn --nntp -h 127.0.0.1 -p $port -f $home/.jnewsrc -i $home/.slrnrc -n -C-"
    local waited=0
    # The group list is up when its cursor line shows (slrn cuts long group names there).
    until tmux capture-pane -p -t quillo-bench-slrn | grep -qE '^-> +[0-9]+ '; do
        sleep 0.05
        waited=$((waited + 1))
        [ $waited -lt 400 ] || { echo nan; return; }
    done
    local start end
    start=$(now)
    tmux send-keys -t quillo-bench-slrn Enter
    waited=0
    until tmux capture-pane -p -t quillo-bench-slrn | grep -qF "unread] Group: $group"; do
        sleep 0.01
        waited=$((waited + 1))
        [ $waited -lt 12000 ] || { echo nan; return; }
    done
    end=$(now)
    tmux kill-session -t quillo-bench-slrn 2>/dev/null || true
    echo "$end - $start" | bc
}

window_time() { QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$window" download --group "$1" --port "$2" ${3:-} 2>/dev/null | tail -1; }
core_time() { "$core" --once ${3:-} --port "$2" "$1" 2>/dev/null | tail -1; }

printf '\n%-10s %-9s %10s %10s %9s %9s %10s %11s %7s\n' headers network "tree shown" "whole op" core slrn tree/slrn whole/slrn load
for i in "${!groups[@]}"; do
    group=${groups[$i]}
    n=${counts[$i]:-?}
    for network in loopback +20ms; do
        port=119
        [ "$network" = loopback ] || port=$proxy_port
        : >"$work/t" ; : >"$work/w" ; : >"$work/c" ; : >"$work/s" ; : >"$work/l"
        for _ in $(seq "$runs"); do
            load >>"$work/l"
            line=$(window_time "$group" "$port")
            echo "$line" | field tree_shown >>"$work/t"
            echo "$line" | field seconds >>"$work/w"
            echo "  $network $line" >&2
            line=$(core_time "$group" "$port" --overview)
            echo "$line" | field seconds >>"$work/c"
            echo "  $network $line" >&2
            s=$(slrn_time "$group" "$port")
            echo "$s" >>"$work/s"
            echo "  $network mode=slrn group=$group seconds=$s" >&2
        done
        t=$(median <"$work/t"); w=$(median <"$work/w"); c=$(median <"$work/c"); s=$(median <"$work/s"); l=$(median <"$work/l")
        printf '%-10s %-9s %9.3fs %9.3fs %8.3fs %8.3fs %10.2f %11.2f %7s\n' "$n" "$network" "$t" "$w" "$c" "$s" \
            "$(echo "$t / $s" | bc -l)" "$(echo "$w / $s" | bc -l)" "$l"
        printf '%-10s %-9s %10s %10s %9s %9s\n' "" "  range" "$(range <"$work/t")" "$(range <"$work/w")" \
            "$(range <"$work/c")" "$(range <"$work/s")"
    done
done

# ---- the HEAD path: the window against the core, loopback ----
printf '\n%-10s %-28s %9s %9s %13s %7s\n' headers "HEAD path (no overview)" window core window/core load
for i in "${!groups[@]}"; do
    group=${groups[$i]}
    n=${counts[$i]:-?}
    : >"$work/w" ; : >"$work/c" ; : >"$work/l"
    for _ in $(seq "$runs"); do
        load >>"$work/l"
        window_time "$group" 119 --head | field seconds >>"$work/w"
        core_time "$group" 119 | field seconds >>"$work/c"
    done
    w=$(median <"$work/w"); c=$(median <"$work/c"); l=$(median <"$work/l")
    printf '%-10s %-28s %8.3fs %8.3fs %12.0f%% %7s\n' "$n" "rate through the window" "$w" "$c" \
        "$(echo "100 * $c / $w" | bc -l)" "$l"
done

# ---- the header tree and a big article ----
printf '\n%-34s %s\n' "header tree fill, 100,000 headers" "(median of $runs; peak RSS of the process)"
: >"$work/f" ; : >"$work/r"
for _ in $(seq "$runs"); do
    line=$(QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$window" fill 100000 2>/dev/null | tail -1)
    echo "$line" | field seconds >>"$work/f"
    echo "$line" | field peak_rss_mib >>"$work/r"
done
printf '  fill %.3f s, peak RSS %.0f MiB, load %s\n' "$(median <"$work/f")" "$(median <"$work/r")" "$(load)"

printf '\n%-34s\n' "5 MB plain-text article"
: >"$work/a" ; : >"$work/b"
for _ in $(seq "$runs"); do
    line=$(QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$window" article 5 2>/dev/null | tail -1)
    echo "$line" | field first_screen >>"$work/a"
    echo "$line" | field whole >>"$work/b"
done
printf '  first screen %.3f s, whole article laid out %.3f s, load %s\n' "$(median <"$work/a")" \
    "$(median <"$work/b")" "$(load)"
